#pragma once

#include <QByteArray>
#include <QHash>
#include <QPointer>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <functional>
#include <memory>

namespace ostrel::test {

// A tiny HTTP/1.0 server on 127.0.0.1 inside the test process, answering each path with a scripted
// behaviour: a plain answer, a redirect, a body that never ends, a trickle, a dropped connection.
// Over TLS, when given a configuration, on a socket listening already.
class LoopbackServer : public QObject {
public:
    struct Route {
        int status = 200;
        QByteArray body;
        QByteArray extraHeaders;
        // Sends the headers and then keeps sending chunks every `intervalMs` without ever ending.
        bool endless = false;
        // Sends `body` one byte every `intervalMs`.
        bool trickle = false;
        // Closes the connection after half of the declared body.
        bool dropHalfway = false;
        int intervalMs = 0;
    };

    LoopbackServer() : server_(std::make_unique<QTcpServer>()) {
        server_->listen(QHostAddress::LocalHost);
        accept();
    }
    // Over TLS, with `tls`'s certificate and key: https addresses.
    explicit LoopbackServer(const QSslConfiguration& tls)
        : server_(std::make_unique<TlsServer>(tls)), tls_(true) {
        server_->listen(QHostAddress::LocalHost);
        accept();
    }
    // The same on a socket already listening (in a network of the test's own).
    LoopbackServer(const QSslConfiguration& tls, int listening)
        : server_(std::make_unique<TlsServer>(tls)), tls_(true) {
        server_->setSocketDescriptor(listening);
        accept();
    }

    QString url(const QString& path) const {
        return QStringLiteral("%1://127.0.0.1:%2%3")
            .arg(tls_ ? QStringLiteral("https") : QStringLiteral("http"))
            .arg(server_->serverPort())
            .arg(path);
    }
    void route(const QString& path, Route r) { routes_.insert(path, std::move(r)); }
    int hits(const QString& path) const { return hits_.value(path); }
    QByteArray lastRequest() const { return lastRequest_; }

    static Route answer(int status, const QByteArray& body) {
        Route r;
        r.status = status;
        r.body = body;
        return r;
    }
    static Route endlessBody(int intervalMs) {
        Route r;
        r.endless = true;
        r.intervalMs = intervalMs;
        return r;
    }
    static Route trickling(const QByteArray& body, int intervalMs) {
        Route r = answer(200, body);
        r.trickle = true;
        r.intervalMs = intervalMs;
        return r;
    }
    static Route droppedHalfway(const QByteArray& body) {
        Route r = answer(200, body);
        r.dropHalfway = true;
        return r;
    }

    static Route redirect(const QString& to) {
        Route r;
        r.status = 302;
        r.extraHeaders = "Location: " + to.toUtf8() + "\r\n";
        return r;
    }

private:
    // Hands each connection on as it comes, its handshake under way, as a plain one is.
    class TlsServer : public QTcpServer {
    public:
        explicit TlsServer(const QSslConfiguration& tls) : tls_(tls) {
            tls_.setPeerVerifyMode(QSslSocket::VerifyNone);
        }

    protected:
        void incomingConnection(qintptr descriptor) override {
            auto* socket = new QSslSocket(this);
            socket->setSslConfiguration(tls_);
            socket->setSocketDescriptor(descriptor);
            socket->startServerEncryption();
            addPendingConnection(socket);
        }

    private:
        QSslConfiguration tls_;
    };

    void accept() {
        connect(server_.get(), &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server_->nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }

    void serve(QTcpSocket* socket) {
        QByteArray& pending = buffers_[socket];
        pending += socket->readAll();
        if (!pending.contains("\r\n\r\n")) {
            return;
        }
        lastRequest_ = pending;
        const QList<QByteArray> first = pending.left(pending.indexOf("\r\n")).split(' ');
        buffers_.remove(socket);
        const QString path = first.size() > 1 ? QString::fromUtf8(first[1]) : QString();
        hits_[path] += 1;
        const Route r = routes_.value(path, answer(404, "missing"));
        QByteArray head = "HTTP/1.1 " + QByteArray::number(r.status) + " X\r\n" + r.extraHeaders +
                          "Connection: close\r\n";
        if (!r.endless) {
            head += "Content-Length: " + QByteArray::number(r.body.size()) + "\r\n";
        }
        socket->write(head + "\r\n");
        QPointer<QTcpSocket> guard(socket);
        if (r.endless || r.trickle) {
            auto* timer = new QTimer(socket);
            auto sent = std::make_shared<qsizetype>(0);
            connect(timer, &QTimer::timeout, socket, [guard, r, sent, timer] {
                if (!guard) {
                    return;
                }
                if (r.endless) {
                    guard->write(QByteArray(64 * 1024, 'x'));
                } else if (*sent < r.body.size()) {
                    guard->write(r.body.mid(*sent, 1));
                    *sent += 1;
                } else {
                    timer->stop();
                    guard->disconnectFromHost();
                }
            });
            timer->start(r.intervalMs);
            return;
        }
        if (r.dropHalfway) {
            socket->write(r.body.left(r.body.size() / 2));
            socket->flush();
            socket->abort();
            return;
        }
        socket->write(r.body);
        socket->disconnectFromHost();
    }

    std::unique_ptr<QTcpServer> server_;
    bool tls_ = false;
    QHash<QString, Route> routes_;
    QHash<QString, int> hits_;
    QHash<QTcpSocket*, QByteArray> buffers_;
    QByteArray lastRequest_;
};

} // namespace ostrel::test
