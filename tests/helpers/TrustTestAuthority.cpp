// Linked into the build of the application that the end-to-end update tests run: its feed lies on
// the test's own TLS server, whose certificate authority the test names in OSTREL_TEST_AUTHORITY.
// That authority alone is trusted then, as a test wants; the build trusts none other.
#include <QCoreApplication>
#include <QSslCertificate>
#include <QSslConfiguration>

namespace {

void trustTestAuthority() {
    const QString path = qEnvironmentVariable("OSTREL_TEST_AUTHORITY");
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setCaCertificates(path.isEmpty() ? QList<QSslCertificate>()
                                         : QSslCertificate::fromPath(path));
    QSslConfiguration::setDefaultConfiguration(tls);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(trustTestAuthority)
