#include "XServer.h"

#include "Wait.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSysInfo>
#include <QThread>

#include <xcb/randr.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>
#include <xcb/xproto.h>
#include <xcb/xtest.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace ostrel::test {

namespace {

template <typename T> using Reply = std::unique_ptr<T, decltype(&std::free)>;
template <typename T> Reply<T> reply(T* r) {
    return Reply<T>(r, &std::free);
}

// Starts a program with the given environment and stdout/stderr sent to /dev/null; `keepFd`, when
// given, is handed to the child as that same descriptor number.
qint64 spawn(const QStringList& command, const QProcessEnvironment& env, int keepFd = -1) {
    std::vector<QByteArray> argBytes;
    for (const QString& a : command) {
        argBytes.push_back(a.toLocal8Bit());
    }
    std::vector<char*> argv;
    for (QByteArray& a : argBytes) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    std::vector<QByteArray> envBytes;
    for (const QString& e : env.toStringList()) {
        envBytes.push_back(e.toLocal8Bit());
    }
    std::vector<char*> envp;
    for (QByteArray& e : envBytes) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (keepFd >= 0) {
        // dup2 onto itself clears close-on-exec.
        posix_spawn_file_actions_adddup2(&actions, keepFd, keepFd);
    }
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

void stopProcess(qint64 pid) {
    if (pid <= 0) {
        return;
    }
    ::kill(static_cast<pid_t>(pid), SIGTERM);
    for (int i = 0; i < 300; ++i) {
        if (::waitpid(static_cast<pid_t>(pid), nullptr, WNOHANG) != 0) {
            return;
        }
        QThread::msleep(10);
    }
    ::kill(static_cast<pid_t>(pid), SIGKILL);
    ::waitpid(static_cast<pid_t>(pid), nullptr, 0);
}

xcb_atom_t intern(xcb_connection_t* c, const char* name) {
    auto r = reply(xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr));
    return r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
}

std::optional<quint32> cardinal(xcb_connection_t* c, xcb_window_t w, xcb_atom_t prop,
                                xcb_atom_t type) {
    auto r = reply(xcb_get_property_reply(c, xcb_get_property(c, 0, w, prop, type, 0, 1), nullptr));
    if (!r || xcb_get_property_value_length(r.get()) < 4) {
        return std::nullopt;
    }
    return *static_cast<const quint32*>(xcb_get_property_value(r.get()));
}

} // namespace

XServer::XServer() : XServer(Options{}) {}

XServer::XServer(const Options& options) : options_(options) {
    start(options);
}

XServer::~XServer() {
    if (app_ && app_->state() != QProcess::NotRunning) {
        app_->kill();
        app_->waitForFinished(5000);
    }
    app_.reset();
    stopProcess(compositorPid_);
    stopProcess(wmPid_);
    if (connection_) {
        xcb_disconnect(connection_);
    }
    stopProcess(xvfbPid_);
}

void XServer::start(const Options& options) {
    for (const char* sub : {"config", "data", "cache", "state", "runtime"}) {
        QDir().mkpath(home_.file(QString::fromLatin1(sub)));
    }
    QFile::setPermissions(home_.file(QStringLiteral("runtime")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        error_ = QStringLiteral("no pipe");
        return;
    }
    const QString screen =
        QStringLiteral("%1x%2x24").arg(options.size.width()).arg(options.size.height());
    xvfbPid_ =
        spawn({QStringLiteral("Xvfb"), QStringLiteral("-displayfd"), QString::number(fds[1]),
               QStringLiteral("-noreset"), QStringLiteral("-nolisten"), QStringLiteral("tcp"),
               QStringLiteral("-wr"), QStringLiteral("-screen"), QStringLiteral("0"), screen},
              QProcessEnvironment::systemEnvironment(), fds[1]);
    ::close(fds[1]);
    if (xvfbPid_ < 0) {
        ::close(fds[0]);
        error_ = QStringLiteral("Xvfb did not start");
        return;
    }
    QByteArray number;
    pollfd pfd{fds[0], POLLIN, 0};
    while (!number.endsWith('\n')) {
        if (::poll(&pfd, 1, 20000) <= 0) {
            break;
        }
        char buf[32];
        const ssize_t n = ::read(fds[0], buf, sizeof buf);
        if (n <= 0) {
            break;
        }
        number.append(buf, static_cast<int>(n));
    }
    ::close(fds[0]);
    bool parsed = false;
    const int displayNumber = number.trimmed().toInt(&parsed);
    if (!parsed) {
        error_ = QStringLiteral("Xvfb gave no display number");
        return;
    }
    display_ = displayNumber;
    const QByteArray name = display().toLatin1();
    connection_ = xcb_connect(name.constData(), nullptr);
    if (xcb_connection_has_error(connection_)) {
        xcb_disconnect(connection_);
        connection_ = nullptr;
        error_ = QStringLiteral("cannot connect to ") + display();
        return;
    }
    root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
    if (options.twoMonitors && !splitMonitors()) {
        error_ = QStringLiteral("cannot split the screen into two monitors");
        return;
    }
    if (options.windowManager && !startWindowManager()) {
        error_ = QStringLiteral("openbox did not start");
        return;
    }
    if (options.compositor && !startCompositor()) {
        error_ = QStringLiteral("xcompmgr did not start");
        return;
    }
}

// libxcb-randr 1.15's xcb_randr_set_monitor sends an uninitialised part; the request is built
// here by hand instead.
bool XServer::splitMonitors() {
    xcb_connection_t* c = connection_;
    auto resources = reply(xcb_randr_get_screen_resources_current_reply(
        c, xcb_randr_get_screen_resources_current(c, root_), nullptr));
    if (!resources || xcb_randr_get_screen_resources_current_outputs_length(resources.get()) < 1) {
        return false;
    }
    const xcb_randr_output_t output =
        xcb_randr_get_screen_resources_current_outputs(resources.get())[0];
    const int half = options_.size.width() / 2;
    struct MonitorPlan {
        const char* name;
        int x;
        bool primary;
        bool withOutput;
    };
    for (const MonitorPlan& m :
         {MonitorPlan{"LEFT", 0, true, true}, MonitorPlan{"RIGHT", half, false, false}}) {
        std::vector<quint8> body(32 + (m.withOutput ? 4 : 0), 0);
        auto put32 = [&](size_t at, quint32 v) { std::memcpy(body.data() + at, &v, 4); };
        auto put16 = [&](size_t at, quint16 v) { std::memcpy(body.data() + at, &v, 2); };
        // Bytes 0-3 (opcodes and length) are filled in by xcb.
        put32(4, root_);
        put32(8, intern(c, m.name));
        body[12] = m.primary ? 1 : 0;
        body[13] = 0; // not automatic
        put16(14, m.withOutput ? 1 : 0);
        put16(16, static_cast<quint16>(m.x));
        put16(18, 0);
        put16(20, static_cast<quint16>(half));
        put16(22, static_cast<quint16>(options_.size.height()));
        put32(24, 508);
        put32(28, 286);
        if (m.withOutput) {
            put32(32, output);
        }
        iovec parts[3];
        parts[2].iov_base = body.data();
        parts[2].iov_len = body.size();
        xcb_protocol_request_t request{1, &xcb_randr_id, XCB_RANDR_SET_MONITOR, 1};
        const unsigned int sequence = xcb_send_request(c, XCB_REQUEST_CHECKED, parts + 2, &request);
        if (xcb_generic_error_t* e = xcb_request_check(c, xcb_void_cookie_t{sequence})) {
            std::free(e);
            return false;
        }
    }
    return true;
}

bool XServer::removeMonitor(const QString& name) {
    std::vector<quint8> body(12, 0);
    const quint32 root = root_;
    const quint32 atom = intern(connection_, name.toLatin1().constData());
    std::memcpy(body.data() + 4, &root, 4);
    std::memcpy(body.data() + 8, &atom, 4);
    iovec parts[3];
    parts[2].iov_base = body.data();
    parts[2].iov_len = body.size();
    xcb_protocol_request_t request{1, &xcb_randr_id, XCB_RANDR_DELETE_MONITOR, 1};
    const unsigned int sequence =
        xcb_send_request(connection_, XCB_REQUEST_CHECKED, parts + 2, &request);
    if (xcb_generic_error_t* e = xcb_request_check(connection_, xcb_void_cookie_t{sequence})) {
        std::free(e);
        return false;
    }
    return true;
}

bool XServer::startWindowManager() {
    wmPid_ = spawn({QStringLiteral("openbox"), QStringLiteral("--sm-disable")}, environment());
    if (wmPid_ < 0) {
        return false;
    }
    // openbox announces itself before it manages new windows: wait until it frames a probe.
    const xcb_atom_t list = intern(connection_, "_NET_CLIENT_LIST");
    const quint32 probe = createWindow(QRect(0, 0, 10, 10), Qt::black, true);
    const bool managed = waitUntil(
        [&] {
            auto r = reply(xcb_get_property_reply(
                connection_, xcb_get_property(connection_, 0, root_, list, XCB_ATOM_WINDOW, 0, 64),
                nullptr));
            if (!r) {
                return false;
            }
            const auto* ids = static_cast<const quint32*>(xcb_get_property_value(r.get()));
            const int n = xcb_get_property_value_length(r.get()) / 4;
            return std::find(ids, ids + n, probe) != ids + n;
        },
        20);
    destroyWindow(probe);
    return managed;
}

bool XServer::compositorRunning() {
    auto owner = reply(xcb_get_selection_owner_reply(
        connection_, xcb_get_selection_owner(connection_, intern(connection_, "_NET_WM_CM_S0")),
        nullptr));
    return owner && owner->owner != XCB_NONE;
}

bool XServer::startCompositor() {
    if (compositorPid_ < 0) {
        compositorPid_ = spawn({QStringLiteral("xcompmgr")}, environment());
    }
    return compositorPid_ >= 0 && waitUntil([&] { return compositorRunning(); }, 20);
}

bool XServer::stopCompositor() {
    stopProcess(compositorPid_);
    compositorPid_ = -1;
    return waitUntil([&] { return !compositorRunning(); }, 20);
}

QProcessEnvironment XServer::environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display());
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("XAUTHORITY"));
    // The desktop's own session bus would bring its settings (reduce motion) into the test.
    env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("HOME"), home_.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home_.file(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), home_.file(QStringLiteral("data")));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home_.file(QStringLiteral("cache")));
    env.insert(QStringLiteral("XDG_STATE_HOME"), home_.file(QStringLiteral("state")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home_.file(QStringLiteral("runtime")));
    return env;
}

bool XServer::startApp(const QString& binary, const QStringList& arguments,
                       const QProcessEnvironment& extra) {
    QProcessEnvironment env = environment();
    env.insert(QStringLiteral("OSTREL_MOTION_SCALE"), QStringLiteral("0.05"));
    env.insert(QStringLiteral("OSTREL_CLAUDE_HOME"), home_.file(QStringLiteral("claude")));
    env.insert(QStringLiteral("OSTREL_SCRATCH_ROOT"), home_.file(QStringLiteral("scratch")));
    env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("app.ostrel.*=true"));
    for (const QString& key : extra.keys()) {
        if (extra.value(key).isEmpty()) {
            env.remove(key);
        } else {
            env.insert(key, extra.value(key));
        }
    }
    if (greeted) {
        QJsonObject values =
            QJsonDocument::fromJson(home_.read("config/Ostrel/defaults.json")).object();
        for (const char* key : {"shownWelcome", "shownMissingClaudeFolder"}) {
            if (!values.contains(QLatin1String(key))) {
                values.insert(QLatin1String(key), true);
            }
        }
        home_.write(QStringLiteral("config/Ostrel/defaults.json"), QJsonDocument(values).toJson());
    }
    app_ = std::make_unique<QProcess>();
    app_->setProcessEnvironment(env);
    app_->setProcessChannelMode(QProcess::MergedChannels);
    if (launcher.isEmpty()) {
        app_->start(binary, arguments);
    } else {
        app_->start(launcher.first(), launcher.mid(1) + QStringList{binary} + arguments);
    }
    return app_->waitForStarted(10000);
}

qint64 XServer::appPid() const {
    return app_ ? app_->processId() : -1;
}

QString XServer::appLog() {
    if (app_) {
        appLog_ += QString::fromUtf8(app_->readAll());
    }
    return appLog_;
}

std::optional<int> XServer::stopApp(double seconds) {
    if (!app_) {
        return std::nullopt;
    }
    if (app_->state() != QProcess::NotRunning) {
        ::kill(static_cast<pid_t>(app_->processId()), SIGTERM);
        if (!app_->waitForFinished(static_cast<int>(seconds * 1000))) {
            app_->kill();
            app_->waitForFinished(5000);
            appLog();
            return std::nullopt;
        }
    }
    appLog();
    if (app_->exitStatus() != QProcess::NormalExit) {
        return std::nullopt;
    }
    return app_->exitCode();
}

void XServer::killServer() {
    if (xvfbPid_ > 0) {
        ::kill(static_cast<pid_t>(xvfbPid_), SIGKILL);
        ::waitpid(static_cast<pid_t>(xvfbPid_), nullptr, 0);
        xvfbPid_ = -1;
    }
}

QList<XServer::Window> XServer::shownWindows() {
    QList<Window> shown;
    for (const Window& w : appWindows()) {
        if (w.viewable && !w.overrideRedirect) {
            shown.append(w);
        }
    }
    return shown;
}

bool XServer::panelHasFocus() {
    auto focus =
        reply(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
    if (!focus) {
        return false;
    }
    const QList<Window> windows = appWindows();
    return std::any_of(windows.begin(), windows.end(),
                       [&](const Window& w) { return w.overrideRedirect && w.id == focus->focus; });
}

std::optional<XServer::Window> XServer::window(quint32 id) {
    xcb_connection_t* c = connection_;
    auto attrs =
        reply(xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, id), nullptr));
    auto geometry = reply(xcb_get_geometry_reply(c, xcb_get_geometry(c, id), nullptr));
    if (!attrs || !geometry) {
        return std::nullopt;
    }
    auto origin = reply(
        xcb_translate_coordinates_reply(c, xcb_translate_coordinates(c, id, root_, 0, 0), nullptr));
    Window w;
    w.id = id;
    w.geometry = QRect(origin ? origin->dst_x : geometry->x, origin ? origin->dst_y : geometry->y,
                       geometry->width, geometry->height);
    w.overrideRedirect = attrs->override_redirect != 0;
    w.viewable = attrs->map_state == XCB_MAP_STATE_VIEWABLE;
    return w;
}

QString XServer::scratchpad() const {
    const QString scratch = home_.file(QStringLiteral("scratch"));
    const QString pad = scratch + QStringLiteral("/-work-demo/abc-123/scratchpad");
    QDir().mkpath(pad);
    QFile::setPermissions(scratch,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return pad;
}

QList<XServer::Window> XServer::appWindows() {
    QList<Window> result;
    const qint64 pid = appPid();
    if (!ok() || pid <= 0) {
        return result;
    }
    xcb_connection_t* c = connection_;
    const xcb_atom_t pidAtom = intern(c, "_NET_WM_PID");
    auto tree = reply(xcb_query_tree_reply(c, xcb_query_tree(c, root_), nullptr));
    if (!tree) {
        return result;
    }
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    const int n = xcb_query_tree_children_length(tree.get());
    for (int i = 0; i < n; ++i) {
        const auto owner = cardinal(c, children[i], pidAtom, XCB_ATOM_CARDINAL);
        if (owner && static_cast<qint64>(*owner) == pid) {
            if (const auto w = window(children[i])) {
                result.append(*w);
            }
        }
    }
    return result;
}

// The server handles each client's requests in order, but no order holds between clients: a
// round trip makes sure an input event is in the server's queue before the next one that xdotool
// (another client) sends, and before the application asks where the pointer is.
void XServer::roundTrip() {
    std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
}

void XServer::moveTo(const QPoint& p) {
    xcb_test_fake_input(connection_, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, root_,
                        static_cast<int16_t>(p.x()), static_cast<int16_t>(p.y()), 0);
    roundTrip();
}

void XServer::press(int button) {
    xcb_test_fake_input(connection_, XCB_BUTTON_PRESS, static_cast<uint8_t>(button),
                        XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    roundTrip();
}

void XServer::release(int button) {
    xcb_test_fake_input(connection_, XCB_BUTTON_RELEASE, static_cast<uint8_t>(button),
                        XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    roundTrip();
}

void XServer::click(int button) {
    press(button);
    release(button);
}

void XServer::key(const QString& keysym) {
    xdotool({QStringLiteral("key"), keysym});
}

QString XServer::run(const QString& program, const QStringList& arguments) {
    QProcess p;
    p.setProcessEnvironment(environment());
    p.start(program, arguments);
    if (!p.waitForFinished(20000)) {
        p.kill();
        p.waitForFinished(2000);
    }
    return QString::fromUtf8(p.readAllStandardOutput());
}

QString XServer::xdotool(const QStringList& arguments) {
    return run(QStringLiteral("xdotool"), arguments);
}

QString XServer::xwininfo(const QStringList& arguments) {
    return run(QStringLiteral("xwininfo"), arguments);
}

QString XServer::xprop(const QStringList& arguments) {
    return run(QStringLiteral("xprop"), arguments);
}

quint32 XServer::createWindow(const QRect& rect, const QColor& color, bool managed) {
    xcb_connection_t* c = connection_;
    const xcb_window_t id = xcb_generate_id(c);
    const uint32_t pixel = (static_cast<uint32_t>(color.red()) << 16) |
                           (static_cast<uint32_t>(color.green()) << 8) |
                           static_cast<uint32_t>(color.blue());
    const uint32_t values[] = {pixel, managed ? 0u : 1u,
                               XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_EXPOSURE};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, id, root_, static_cast<int16_t>(rect.x()),
                      static_cast<int16_t>(rect.y()), static_cast<uint16_t>(rect.width()),
                      static_cast<uint16_t>(rect.height()), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      XCB_COPY_FROM_PARENT,
                      XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
    if (managed) {
        const quint32 pid = static_cast<quint32>(QCoreApplication::applicationPid());
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, intern(c, "_NET_WM_PID"),
                            XCB_ATOM_CARDINAL, 32, 1, &pid);
    }
    xcb_map_window(c, id);
    // Other connections may use the window as soon as this returns.
    roundTrip();
    presses_.insert(id, 0);
    return id;
}

void XServer::reservePanels(const QMargins& room) {
    xcb_connection_t* c = connection_;
    const QSize size = options_.size;
    if (!options_.windowManager) {
        const quint32 area[] = {quint32(room.left()), quint32(room.top()),
                                quint32(size.width() - room.left() - room.right()),
                                quint32(size.height() - room.top() - room.bottom())};
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, root_, intern(c, "_NET_WORKAREA"),
                            XCB_ATOM_CARDINAL, 32, 4, area);
    } else {
        const xcb_window_t id = xcb_generate_id(c);
        xcb_create_window(c, XCB_COPY_FROM_PARENT, id, root_, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
        const xcb_atom_t dock = intern(c, "_NET_WM_WINDOW_TYPE_DOCK");
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, intern(c, "_NET_WM_WINDOW_TYPE"),
                            XCB_ATOM_ATOM, 32, 1, &dock);
        // left, right, top, bottom, then the start and end of each along its edge.
        const quint32 strut[] = {quint32(room.left()),
                                 quint32(room.right()),
                                 quint32(room.top()),
                                 quint32(room.bottom()),
                                 0,
                                 quint32(size.height() - 1),
                                 0,
                                 quint32(size.height() - 1),
                                 0,
                                 quint32(size.width() - 1),
                                 0,
                                 quint32(size.width() - 1)};
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, intern(c, "_NET_WM_STRUT_PARTIAL"),
                            XCB_ATOM_CARDINAL, 32, 12, strut);
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, intern(c, "_NET_WM_STRUT"),
                            XCB_ATOM_CARDINAL, 32, 4, strut);
        xcb_map_window(c, id);
    }
    xcb_flush(c);
    // The window manager has taken the panel in once its work area says so.
    const QRect wanted = QRect(QPoint(0, 0), size).marginsRemoved(room);
    waitUntil(
        [&] {
            auto r = reply(xcb_get_property_reply(
                c,
                xcb_get_property(c, 0, root_, intern(c, "_NET_WORKAREA"), XCB_ATOM_CARDINAL, 0, 4),
                nullptr));
            if (!r || xcb_get_property_value_length(r.get()) < 16) {
                return false;
            }
            const auto* v = static_cast<const quint32*>(xcb_get_property_value(r.get()));
            return QRect(int(v[0]), int(v[1]), int(v[2]), int(v[3])) == wanted;
        },
        10);
}

void XServer::setDisplayScale(double scale) {
    xcb_connection_t* c = connection_;
    if (settingsWindow_ == 0) {
        settingsWindow_ = xcb_generate_id(c);
        xcb_create_window(c, XCB_COPY_FROM_PARENT, settingsWindow_, root_, -1, -1, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_set_selection_owner(c, settingsWindow_, intern(c, "_XSETTINGS_S0"), XCB_CURRENT_TIME);
    }
    // The settings block: byte order, serial, one integer setting (type 0) with its name padded
    // to four bytes, the serial it last changed at, and its value (dots per inch times 1024).
    const QByteArray name("Xft/DPI");
    QByteArray block;
    const auto put32 = [&block](quint32 v) { block.append(reinterpret_cast<const char*>(&v), 4); };
    block.append(QSysInfo::ByteOrder == QSysInfo::LittleEndian ? '\0' : '\1');
    block.append(3, '\0');
    put32(++settingsSerial_);
    put32(1);
    block.append('\0');
    block.append('\0');
    const quint16 length = static_cast<quint16>(name.size());
    block.append(reinterpret_cast<const char*>(&length), 2);
    block.append(name);
    block.append((4 - name.size() % 4) % 4, '\0');
    put32(settingsSerial_);
    put32(static_cast<quint32>(std::lround(96 * 1024 * scale)));
    const xcb_atom_t settings = intern(c, "_XSETTINGS_SETTINGS");
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, settingsWindow_, settings, settings, 8,
                        static_cast<uint32_t>(block.size()), block.constData());
    roundTrip();
}

void XServer::setFullscreen(quint32 id, bool on) {
    xcb_client_message_event_t m{};
    m.response_type = XCB_CLIENT_MESSAGE;
    m.format = 32;
    m.window = id;
    m.type = intern(connection_, "_NET_WM_STATE");
    m.data.data32[0] = on ? 1 : 0;
    m.data.data32[1] = intern(connection_, "_NET_WM_STATE_FULLSCREEN");
    m.data.data32[2] = 0;
    m.data.data32[3] = 1;
    xcb_send_event(connection_, 0, root_,
                   XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   reinterpret_cast<const char*>(&m));
    xcb_flush(connection_);
}

void XServer::destroyWindow(quint32 id) {
    xcb_destroy_window(connection_, id);
    xcb_flush(connection_);
    presses_.remove(id);
}

void XServer::readEvents() {
    while (xcb_generic_event_t* e = xcb_poll_for_event(connection_)) {
        if ((e->response_type & 0x7f) == XCB_BUTTON_PRESS) {
            const auto* b = reinterpret_cast<const xcb_button_press_event_t*>(e);
            if (presses_.contains(b->event)) {
                ++presses_[b->event];
            }
        } else if ((e->response_type & 0x7f) == XCB_CREATE_NOTIFY) {
            const auto* c = reinterpret_cast<const xcb_create_notify_event_t*>(e);
            if (c->parent == root_) {
                geometries_.insert(c->window, {QRect(c->x, c->y, c->width, c->height)});
            }
        } else if ((e->response_type & 0x7f) == XCB_CONFIGURE_NOTIFY) {
            const auto* c = reinterpret_cast<const xcb_configure_notify_event_t*>(e);
            if (c->event == root_ && geometries_.contains(c->window)) {
                geometries_[c->window].append(QRect(c->x, c->y, c->width, c->height));
            }
        }
        std::free(e);
    }
}

void XServer::watchGeometries() {
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection_, root_, XCB_CW_EVENT_MASK, &mask);
    roundTrip();
}

QList<QRect> XServer::geometries(quint32 id) {
    roundTrip();
    readEvents();
    return geometries_.value(id);
}

int XServer::pressesOn(quint32 id) {
    // Every event sent before now has arrived after a round trip.
    roundTrip();
    readEvents();
    return presses_.value(id);
}

QImage XServer::capture(const QRect& area) {
    xcb_connection_t* c = connection_;
    const QRect whole(QPoint(0, 0), options_.size);
    const QRect taken = area.isNull() ? whole : area.intersected(whole);
    if (taken.isEmpty()) {
        return {};
    }
    const QSize size = taken.size();
    auto image = reply(xcb_get_image_reply(
        c,
        xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, root_, static_cast<int16_t>(taken.x()),
                      static_cast<int16_t>(taken.y()), static_cast<uint16_t>(size.width()),
                      static_cast<uint16_t>(size.height()), ~0u),
        nullptr));
    if (!image || xcb_get_image_data_length(image.get()) < size.width() * size.height() * 4) {
        return {};
    }
    const QImage view(xcb_get_image_data(image.get()), size.width(), size.height(),
                      size.width() * 4, QImage::Format_RGB32);
    return view.copy();
}

QImage XServer::steadyCapture(const QRect& area, double quiet, double seconds) {
    QDeadlineTimer deadline(static_cast<qint64>(seconds * 1000));
    QImage last = capture(area);
    QElapsedTimer unchanged;
    unchanged.start();
    while (!deadline.hasExpired()) {
        pump(0.03);
        QImage now = capture(area);
        if (now != last) {
            last = std::move(now);
            unchanged.restart();
        } else if (unchanged.elapsed() >= static_cast<qint64>(quiet * 1000)) {
            return last;
        }
    }
    return {};
}

QString XServer::saveCapture(const QString& name) {
    const QString dir = QCoreApplication::applicationDirPath() + QStringLiteral("/captures");
    QDir().mkpath(dir);
    const QString path = dir + QLatin1Char('/') + name + QStringLiteral(".png");
    capture().save(path);
    return path;
}

} // namespace ostrel::test
