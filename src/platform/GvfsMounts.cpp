#include "platform/GvfsMounts.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>

#include "platform/HostMatch.h"

namespace {

const QString kDaemonService = QStringLiteral("org.gtk.vfs.Daemon");
const QString kTrackerPath = QStringLiteral("/org/gtk/vfs/mounttracker");
const QString kTrackerInterface = QStringLiteral("org.gtk.vfs.MountTracker");
const QString kMountInterface = QStringLiteral("org.gtk.vfs.Mount");
// A mount source that nobody answers: GVFS then asks no questions and a password request fails.
const QString kNoMountSourceId;
const QDBusObjectPath kNoMountSourcePath(QStringLiteral("/"));
// GIO's error code for "Location is already mounted", as GVFS sends it over the bus.
const QString kAlreadyMountedError =
    QStringLiteral("org.gtk.GDBus.UnmappedGError.Quark._g_2dio_2derror_2dquark.Code17");

// The tracker answers from memory; a mount or unmount reaches the device and may take as long as
// the device needs to answer or the connection attempt to fail.
constexpr int kListTimeoutMs = 5000;
constexpr int kUnmountTimeoutMs = 15000;
constexpr int kMountTimeoutMs = 30000;

// GVFS reads and writes its byte strings as GLib does: the array holds a terminating NUL, and a
// string sent without one arrives empty.
QByteArray FromByteString(QByteArray bytes) {
  if (bytes.endsWith('\0')) {
    bytes.chop(1);
  }
  return bytes;
}

QByteArray ToByteString(const QByteArray& text) { return text + '\0'; }

// A mount description is (aya{sv}): a path prefix and the items, each a byte string in a
// variant.
GvfsMountItems ReadItems(const QDBusArgument& argument) {
  GvfsMountItems items;
  QByteArray prefix;
  argument.beginStructure();
  argument >> prefix;
  argument.beginMap();
  while (!argument.atEnd()) {
    QString key;
    QDBusVariant value;
    argument.beginMapEntry();
    argument >> key >> value;
    argument.endMapEntry();
    items.insert(key, FromByteString(value.variant().toByteArray()));
  }
  argument.endMap();
  argument.endStructure();
  return items;
}

// One mount is (sossssssbay(aya{sv})ay): its backend and object, display name, stable name,
// content types, icon, symbolic icon, file name encoding, visibility, FUSE path, description
// and default location.
GvfsMount ReadMount(const QDBusArgument& argument) {
  GvfsMount mount;
  QDBusObjectPath path;
  QString ignored;
  QByteArray ignoredBytes;
  argument.beginStructure();
  argument >> mount.dbusId >> path >> mount.displayName >> ignored >> ignored >> ignored >>
      ignored >> ignored >> mount.userVisible >> ignoredBytes;
  mount.items = ReadItems(argument);
  argument >> ignoredBytes;
  argument.endStructure();
  mount.objectPath = path.path();
  return mount;
}

QString CallError(const QDBusMessage& reply) {
  return reply.errorName() + QStringLiteral(": ") + reply.errorMessage();
}

}  // namespace

QString GvfsMount::Host() const {
  const QByteArray host =
      items.contains(QStringLiteral("server")) ? items.value("server") : items.value("host");
  return HostOnly(QString::fromUtf8(host));
}

GvfsMountItems SmbServerItems(const QString& address) {
  return {{QStringLiteral("type"), QByteArrayLiteral("smb-server")},
          {QStringLiteral("server"), address.toUtf8()}};
}

GvfsMountTracker::GvfsMountTracker(const QDBusConnection& bus) : bus_(bus) {}

std::optional<std::vector<GvfsMount>> GvfsMountTracker::ListMounts(QString* error) const {
  QDBusMessage call = QDBusMessage::createMethodCall(
      kDaemonService, kTrackerPath, kTrackerInterface, QStringLiteral("ListMounts2"));
  call << false;  // every mount, not only those a user sees
  const QDBusMessage reply = bus_.call(call, QDBus::Block, kListTimeoutMs);
  if (reply.type() != QDBusMessage::ReplyMessage) {
    *error = CallError(reply);
    return std::nullopt;
  }
  if (reply.arguments().size() != 1 ||
      reply.signature() != QStringLiteral("a(sossssssbay(aya{sv})ay)")) {
    *error = QStringLiteral("unexpected answer of signature ") + reply.signature();
    return std::nullopt;
  }
  std::vector<GvfsMount> mounts;
  const QDBusArgument argument = reply.arguments().first().value<QDBusArgument>();
  argument.beginArray();
  while (!argument.atEnd()) {
    mounts.push_back(ReadMount(argument));
  }
  argument.endArray();
  return mounts;
}

QString GvfsMountTracker::Unmount(const GvfsMount& mount) const {
  QDBusMessage call = QDBusMessage::createMethodCall(mount.dbusId, mount.objectPath,
                                                     kMountInterface, QStringLiteral("Unmount"));
  call << kNoMountSourceId << QVariant::fromValue(kNoMountSourcePath) << 0u;
  const QDBusMessage reply = bus_.call(call, QDBus::Block, kUnmountTimeoutMs);
  return reply.type() == QDBusMessage::ReplyMessage ? QString() : CallError(reply);
}

QString GvfsMountTracker::Mount(const GvfsMountItems& items) const {
  QDBusArgument itemsArgument;
  itemsArgument.beginStructure();
  itemsArgument << ToByteString("/");
  itemsArgument.beginMap(QMetaType::fromType<QString>(), QMetaType::fromType<QDBusVariant>());
  for (auto item = items.cbegin(); item != items.cend(); ++item) {
    itemsArgument.beginMapEntry();
    itemsArgument << item.key() << QDBusVariant(QVariant(ToByteString(item.value())));
    itemsArgument.endMapEntry();
  }
  itemsArgument.endMap();
  itemsArgument.endStructure();

  QDBusArgument source;
  source.beginStructure();
  source << kNoMountSourceId << kNoMountSourcePath;
  source.endStructure();

  QDBusMessage call = QDBusMessage::createMethodCall(
      kDaemonService, kTrackerPath, kTrackerInterface, QStringLiteral("MountLocation"));
  call << QVariant::fromValue(itemsArgument) << QVariant::fromValue(source);
  const QDBusMessage reply = bus_.call(call, QDBus::Block, kMountTimeoutMs);
  if (reply.type() == QDBusMessage::ReplyMessage || reply.errorName() == kAlreadyMountedError) {
    return {};
  }
  return CallError(reply);
}
