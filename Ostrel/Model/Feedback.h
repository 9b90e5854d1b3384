#pragma once

#include "Platform/BundleInfo.h"
#include "Platform/Desktop.h"

#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

namespace ostrel::Feedback {

// The feedback address; none when the build has none (then no feedback entry is offered).
std::optional<QString> email(const BundleInfo& info = BundleInfo::main());
// The short version, else "?".
QString appVersion(const BundleInfo& info = BundleInfo::main());
// The build number read as a whole number (an optional sign, digits only), else 0.
qint64 buildNumber(const BundleInfo& info = BundleInfo::main());
// "1.2 (42)"; "?" stands for a missing part.
QString versionText(const BundleInfo& info = BundleInfo::main());

// The running system for people: the os-release "PRETTY_NAME", else "Linux " and the kernel
// release.
QString systemName(const QString& osReleasePath = QStringLiteral("/etc/os-release"));
// The system version an update may require: the C library's, as major.minor with ".patch" only
// when the patch is not 0.
QString systemVersion();
// That form of a version text: "2.36" stays, "6.1.0-18-amd64" gives "6.1", "1.2.3" stays.
QString shortVersion(const QString& version);

// The mail the feedback command opens; none without an address.
std::optional<QUrl> mailURL(const QString& subject, const QStringList& lines,
                            const BundleInfo& info = BundleInfo::main(),
                            const QString& system = systemName());
// Opens a new mail to the feedback address in the user's mail program; nothing without one.
void compose(const QString& subject = QStringLiteral("Ostrel feedback"),
             const QStringList& lines = {}, Desktop& desktop = *Desktop::system());

} // namespace ostrel::Feedback
