#include "platform/HostMatch.h"

#include <QUrl>

namespace {

bool IsHostCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '-';
}

}  // namespace

QString HostOnly(const QString& text) {
  QString host = text.mid(text.lastIndexOf(QLatin1Char('@')) + 1);
  if (host.startsWith(QLatin1Char('['))) {
    const qsizetype end = host.indexOf(QLatin1Char(']'));
    return end < 0 ? QString() : host.mid(1, end - 1);
  }
  // One colon separates a port; more than one is a bare IPv6 address, which has none.
  if (host.count(QLatin1Char(':')) == 1) {
    host.truncate(host.indexOf(QLatin1Char(':')));
  }
  return host;
}

QString UriHost(const QString& uri) {
  // QUrl would read "domain;user" as part of the user name and drop it, as wanted, but rejects
  // some host names GVFS accepts; the authority is cut out by hand and then reduced.
  const qsizetype scheme = uri.indexOf(QStringLiteral("://"));
  if (scheme <= 0) {
    return {};
  }
  const qsizetype start = scheme + 3;
  qsizetype end = uri.indexOf(QLatin1Char('/'), start);
  for (const QChar stop : {QLatin1Char('?'), QLatin1Char('#')}) {
    const qsizetype at = uri.indexOf(stop, start);
    if (at >= 0 && (end < 0 || at < end)) {
      end = at;
    }
  }
  const QString authority = uri.mid(start, end < 0 ? -1 : end - start);
  return QUrl::fromPercentEncoding(HostOnly(authority).toUtf8());
}

QString ShareSourceHost(const QString& source) {
  const bool slashes = source.startsWith(QStringLiteral("//"));
  if (!slashes && !source.startsWith(QStringLiteral("\\\\"))) {
    return {};
  }
  const QChar separator = slashes ? QLatin1Char('/') : QLatin1Char('\\');
  const qsizetype end = source.indexOf(separator, 2);
  return HostOnly(source.mid(2, end < 0 ? -1 : end - 2));
}

bool SameHost(const QString& host, const QString& address) {
  return !address.isEmpty() && host.compare(address, Qt::CaseInsensitive) == 0;
}

bool HoldsAddressToken(std::string_view text, std::string_view address) {
  if (address.empty()) {
    return false;
  }
  for (std::size_t at = text.find(address); at != std::string_view::npos;
       at = text.find(address, at + 1)) {
    const std::size_t end = at + address.size();
    const bool startsToken = at == 0 || !IsHostCharacter(text[at - 1]);
    const bool endsToken = end == text.size() || !IsHostCharacter(text[end]);
    if (startsToken && endsToken) {
      return true;
    }
  }
  return false;
}
