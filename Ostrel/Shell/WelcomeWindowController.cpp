#include "Ostrel/Shell/WelcomeWindowController.h"

#include "Ostrel/Model/AppSettings.h"
#include "Ostrel/Model/ShelfModel.h"
#include "Ostrel/Widgets/Accessibility.h"
#include "Ostrel/Widgets/AppIcon.h"
#include "Ostrel/Widgets/FocusRing.h"
#include "Ostrel/Widgets/PushButton.h"
#include "Ostrel/Widgets/ReplaceMark.h"
#include "Ostrel/Widgets/RowLabel.h"
#include "Ostrel/Widgets/SettingsColors.h"
#include "Ostrel/Widgets/SettingsForm.h"
#include "Ostrel/Widgets/Switch.h"
#include "Ostrel/Widgets/ToneLabel.h"
#include "OstrelCore/Display/Motion.h"
#include "Platform/X11/WindowSystem.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>

namespace ostrel {

namespace {

constexpr int markSize = 22;
// The height of the rows' room, footnote included.
constexpr int formHeight = 176;

// The step's mark: a dashed ring until the shelf has been opened, then a green check.
QPixmap stepPicture(bool done, bool dark, qreal ratio) {
    QPixmap pixmap(QSize(markSize, markSize) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF ring(2.5, 2.5, 17, 17);
    if (done) {
        p.setPen(Qt::NoPen);
        p.setBrush(SettingsColors::system(SystemColor::green, dark));
        p.drawEllipse(ring);
        QPainterPath tick;
        tick.moveTo(6.5, 11.5);
        tick.lineTo(9.8, 14.6);
        tick.lineTo(15.5, 7.8);
        p.setPen(QPen(Qt::white, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        p.drawPath(tick);
    } else {
        QPen pen(SettingsColors::secondaryText(dark), 1.6);
        pen.setDashPattern({2.0, 2.0});
        p.setPen(pen);
        p.drawEllipse(ring);
    }
    return pixmap;
}

// The login row's mark: a power symbol.
QPixmap powerMark(bool dark, qreal ratio) {
    QPixmap pixmap(QSize(markSize, markSize) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(SettingsColors::secondaryText(dark), 1.7, Qt::SolidLine, Qt::RoundCap));
    const QRectF ring(5, 5.5, 12, 12);
    p.drawArc(ring, 120 * 16, 300 * 16);
    p.drawLine(QPointF(11, 3.5), QPointF(11, 10.5));
    return pixmap;
}

QLabel* markLabel(QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setFixedSize(markSize, markSize);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

// The window paints its own ground, read afresh at each paint as Settings does, so that it
// follows the palette while it is open. The application icon is painted on it too: shown in a
// label it would stand in the accessibility tree as an unnamed picture.
class WelcomeSurface final : public QWidget {
public:
    WelcomeSurface() : QWidget(nullptr, Qt::Window) {}

    static QRect iconRect(int width) {
        return {(width - iconSide) / 2, iconTop, iconSide, iconSide};
    }

    static constexpr int iconTop = 20;
    static constexpr int iconSide = 96;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), SettingsColors::windowBackground(SettingsColors::isDark()));
        const qreal ratio = devicePixelRatioF();
        if (icon_.isNull() || icon_.devicePixelRatio() != ratio) {
            icon_ = QPixmap::fromImage(AppIcon::image().scaled(
                QSize(iconSide, iconSide) * ratio, Qt::KeepAspectRatio, Qt::SmoothTransformation));
            icon_.setDevicePixelRatio(ratio);
        }
        p.drawPixmap(iconRect(width()).topLeft(), icon_);
    }

private:
    QPixmap icon_;
};

} // namespace

WelcomeWindowController::WelcomeWindowController(ShelfModel& model, AppSettings& settings,
                                                 x11::WindowSystem* windows, QObject* parent)
    : QObject(parent), model_(model), settings_(settings), focusReturn_(windows),
      window_(std::make_unique<WelcomeSurface>()) {
    QWidget* w = window_.get();
    setAccessibleWindowRole(w, QAccessible::Dialog);
    w->setWindowTitle(title);
    // Only the close button: nothing to minimise or maximise on a greeting.
    w->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                      Qt::WindowCloseButtonHint);
    w->setFixedWidth(480);
    w->installEventFilter(this);
    new FocusRing(w);

    auto* column = new QVBoxLayout(w);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    column->addSpacing(WelcomeSurface::iconTop + WelcomeSurface::iconSide);

    column->addSpacing(10);
    auto* heading = new ToneLabel(title, ToneLabel::Tone::primary, 22, w);
    heading->setBold(true);
    column->addWidget(heading, 0, Qt::AlignHCenter);

    column->addSpacing(8);
    auto* section = new SettingsSection(QString(), w);
    auto* stepRow = new QWidget(section);
    auto* stepLayout = new QHBoxLayout(stepRow);
    stepLayout->setSpacing(10);
    stepMark_ = new ReplaceMark(QSize(markSize, markSize), model_.clock(), stepRow);
    step_ = new RowLabel(QString(), stepRow);
    step_->setDetail(QStringLiteral("The shelf opens with what Claude has made recently."));
    // The marks only decorate: each row's text says it all.
    hideFromAccessibility(stepMark_);
    stepLayout->addWidget(stepMark_, 0, Qt::AlignVCenter);
    stepLayout->addWidget(step_, 1, Qt::AlignVCenter);
    section->addRow(stepRow);

    auto* loginRow = new QWidget(section);
    auto* loginLayout = new QHBoxLayout(loginRow);
    loginLayout->setSpacing(10);
    power_ = markLabel(loginRow);
    hideFromAccessibility(power_);
    auto* login = new RowLabel(QStringLiteral("Open at login"), loginRow);
    login->setDetail(QStringLiteral("So the shelf is there after a restart."));
    loginSwitch_ = new Switch(Switch::Size::mini, loginRow);
    loginSwitch_->setCheckable(true);
    loginSwitch_->setAccessibleName(QStringLiteral("Open at login"));
    loginLayout->addWidget(power_, 0, Qt::AlignVCenter);
    loginLayout->addWidget(login, 1, Qt::AlignVCenter);
    loginLayout->addWidget(loginSwitch_, 0, Qt::AlignVCenter);
    section->addRow(loginRow);
    section->setFooter(settingsCaption());
    caption_ = section->footer();
    caption_->setAlignment(Qt::AlignHCenter);

    // The form stands in a room of its own height, its rows at the top: what they leave lies
    // between the footnote and "Done", which so stands about as far below the text as above the
    // window's edge.
    auto* form = new QWidget(w);
    form->setMinimumHeight(formHeight);
    auto* formLayout = new QVBoxLayout(form);
    formLayout->setContentsMargins(12, 0, 12, 0);
    formLayout->setSpacing(0);
    formLayout->addWidget(section);
    formLayout->addStretch(1);
    column->addWidget(form);

    column->addSpacing(2);
    done_ = new PushButton(QStringLiteral("Done"), w);
    done_->setMinimumWidth(90);
    done_->setDefault(true);
    column->addWidget(done_, 0, Qt::AlignHCenter);
    column->addSpacing(28);

    connect(done_, &QPushButton::clicked, this, &WelcomeWindowController::close);
    connect(loginSwitch_, &QAbstractButton::toggled, this, [this](bool on) {
        if (on != settings_.prefs().launchAtLogin) {
            settings_.binding(&Preferences::launchAtLogin).set(on);
        }
    });
    connect(&settings_, &AppSettings::prefsChanged, this, [this] { refresh(); });
    connect(&model_, &ShelfModel::openScreenChanged, this, [this] {
        if (model_.openScreen() && !triedShelf_) {
            triedShelf_ = true; // kept when the shelf closes again
            refresh(Motion::onboardingStep());
        }
    });
    refresh();

    w->adjustSize();
    w->setFixedSize(w->size());
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        // Exactly centred: QRect::center() would round the middle down by a pixel.
        const QRect area = screen->availableGeometry();
        w->move(area.x() + (area.width() - w->width()) / 2,
                area.y() + (area.height() - w->height()) / 2);
    }
}

WelcomeWindowController::~WelcomeWindowController() {
    if (window_) {
        window_->removeEventFilter(this);
    }
}

QRect WelcomeWindowController::iconRect() const {
    return WelcomeSurface::iconRect(window_->width());
}

QString WelcomeWindowController::place(const DisplayStyleChoice& style, bool notchedScreen) {
    const auto side = style.pillSide();
    if (!side) {
        return notchedScreen ? QStringLiteral("the notch")
                             : QStringLiteral("the top of the screen");
    }
    QString edge;
    switch (*side) {
    case PillSide::left:
        edge = QStringLiteral("left");
        break;
    case PillSide::bottom:
        edge = QStringLiteral("bottom");
        break;
    case PillSide::right:
        edge = QStringLiteral("right");
        break;
    }
    return QStringLiteral("the pill on the ") + edge + QStringLiteral(" edge");
}

QString WelcomeWindowController::stepTitle() const {
    // No screen here has a notch cut into it: the top edge is the place.
    return QStringLiteral("Move your pointer to ") + place(settings_.prefs().displayStyle, false);
}

QString WelcomeWindowController::settingsCaption() const {
    if (settings_.prefs().showInMenuBar && QSystemTrayIcon::isSystemTrayAvailable()) {
        return QStringLiteral("Settings are in the top bar, under the Ostrel icon.");
    }
    return QStringLiteral("To open Settings later, start Ostrel again.");
}

void WelcomeWindowController::refresh(const Motion::Curve& curve) {
    step_->title()->setText(stepTitle());
    if (caption_) {
        caption_->setText(settingsCaption());
    }
    // The marks are pictures in the palette's tone of the moment, made again when it changes.
    const bool dark = SettingsColors::isDark();
    const qreal ratio = window_->devicePixelRatioF();
    stepMark_->setMark(triedShelf_ ? 1 : 0, stepPicture(triedShelf_, dark, ratio), curve,
                       !Motion::reduceMotion());
    power_->setPixmap(powerMark(dark, ratio));
    const QSignalBlocker block(loginSwitch_);
    loginSwitch_->setChecked(settings_.prefs().launchAtLogin);
}

void WelcomeWindowController::show() {
    // Written before the window shows: a crash or quit while it is open does not bring it back.
    settings_.defaults()->set(shownKey, true);
    focusReturn_.remember();
    window_->show();
    window_->raise();
    window_->activateWindow();
    // No control starts with a focus ring: the window itself holds the focus, so that when the
    // window manager activates it Qt does not hand the focus to the first control (one Space
    // would then turn on launch at login). Return still presses "Done".
    if (QWidget* focus = window_->focusWidget(); focus && focus != window_.get()) {
        focus->clearFocus();
    }
    window_->setFocus(Qt::OtherFocusReason);
}

void WelcomeWindowController::close() {
    window_->close();
}

bool WelcomeWindowController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_.get() && event->type() == QEvent::Close) {
        QTimer::singleShot(0, this, &WelcomeWindowController::closed);
    }
    if (watched == window_.get() && event->type() == QEvent::PaletteChange) {
        refresh();
    }
    if (watched == window_.get() && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
            (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            done_->click();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void WelcomeWindowController::closed() {
    x11::FocusReturn back = std::exchange(focusReturn_, x11::FocusReturn(nullptr));
    const x11::WindowId ours =
        window_->windowHandle() ? static_cast<x11::WindowId>(window_->winId()) : 0;
    // `onClose` may drop this controller: nothing of ours is touched after it.
    if (onClose) {
        onClose();
    }
    back.giveBack(ours);
}

} // namespace ostrel
