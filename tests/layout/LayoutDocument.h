#pragma once

// Small layout documents for the reader and store tests, built from complete elements whose
// attributes can be changed or left out one at a time.

#include <utility>
#include <vector>

#include <QByteArray>
#include <QString>

namespace layouttest {

// An element's attributes in document order.
class Attributes {
 public:
  explicit Attributes(std::vector<std::pair<QString, QString>> values)
      : values_(std::move(values)) {}
  // Replaces the value of `name`, or appends it.
  Attributes& Set(const QString& name, const QString& value);
  Attributes& Remove(const QString& name);
  QString Text() const;

 private:
  std::vector<std::pair<QString, QString>> values_;
};

// Every attribute of a CtrlInfo element: a "StandardButton" at (1, 2) of 3 x 4.
Attributes CtrlAttributes(int ctrlId);
// Every attribute of a variant element: a 328 x 245 dialog.
Attributes LookAttributes();
// Every attribute of a DialogInfo element.
Attributes DialogAttributes(int dialogId, const QString& text = QStringLiteral("Title"));

QString Element(const QString& name, const Attributes& attributes, const QString& content = {});
QString Ctrl(int ctrlId);
QString String(const QString& id, const QString& value);

// `body` inside the WindowInformation root, with the declaration.
QByteArray Document(const QString& body);

}  // namespace layouttest
