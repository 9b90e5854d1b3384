#include "Ostrel/Update/UpdateWindow.h"

#include "Ostrel/Widgets/AppIcon.h"
#include "Ostrel/Widgets/FocusRing.h"
#include "Ostrel/Widgets/PushButton.h"
#include "Ostrel/Widgets/Symbols.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>

#include <cmath>

namespace ostrel {

namespace {

using Kind = UpdateController::Phase::Kind;

QLabel* label(const QString& text, int pixels, QFont::Weight weight, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    QFont font = l->font();
    font.setPixelSize(pixels);
    font.setWeight(weight);
    l->setFont(font);
    l->setTextFormat(Qt::PlainText);
    return l;
}

QColor faded(const QWidget* w, qreal alpha) {
    QColor c = w->palette().color(QPalette::WindowText);
    c.setAlphaF(alpha);
    return c;
}

void tint(QLabel* l, const QColor& color) {
    QPalette p = l->palette();
    p.setColor(QPalette::WindowText, color);
    l->setPalette(p);
}

// The application icon at the head of the window. It reaches `overhang` points to the left of
// the content's edge (the drawing's own transparent margin then lines up with the text below)
// and keeps `spacing` points to the titles; both are fractions of a pixel, which the icon is
// drawn at and a layout could not place.
class HeaderIcon : public QWidget {
public:
    static constexpr double side = UpdateWindow::iconSize;
    static constexpr double overhang = 6.25;
    static constexpr double spacing = 9.75;
    // Whole pixels the widget starts left of the content's edge.
    static constexpr int reach = 7;

    explicit HeaderIcon(QWidget* parent) : QWidget(parent) {
        setObjectName(QStringLiteral("icon"));
        setFixedSize(static_cast<int>(std::ceil(reach - overhang + side + spacing)),
                     static_cast<int>(side));
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawImage(QRectF(reach - overhang, 0, side, side), AppIcon::image());
    }
};

} // namespace

UpdateWindow::UpdateWindow(UpdateController* controller) : controller_(controller) {
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::CustomizeWindowHint);
    setWindowTitle(tr("Software Update"));
    setFixedWidth(contentWidth);
    layout_ = new QVBoxLayout(this);
    layout_->setContentsMargins(0, 0, 0, 0);
    connect(controller, &UpdateController::phaseChanged, this, &UpdateWindow::rebuild);
    rebuild();
    new FocusRing(this);
}

UpdateWindow::Texts UpdateWindow::texts(const std::optional<UpdateController::Phase>& phase,
                                        const UpdateController::Environment& env) {
    const QString appVersion = env.appVersion.isEmpty() ? QStringLiteral("?") : env.appVersion;
    if (!phase) {
        return {};
    }
    switch (phase->kind) {
    case Kind::available:
        return {QStringLiteral("Ostrel ") + phase->feed.version + QStringLiteral(" is available"),
                QStringLiteral("You have ") + appVersion + QStringLiteral(".")};
    case Kind::needsNewerSystem:
        return {QStringLiteral("Ostrel ") + phase->feed.version +
                    QStringLiteral(" needs a newer system"),
                QStringLiteral("It needs system version ") + phase->feed.minimumSystemVersion +
                    QStringLiteral(" or later. You're on ") +
                    UpdateController::systemVersionText(env.system) + QStringLiteral(".")};
    case Kind::failed:
        return {phase->title, phase->message};
    case Kind::checking:
        return {QStringLiteral("Checking for updates…"), std::nullopt};
    case Kind::upToDate:
        return {QStringLiteral("Ostrel is up to date"),
                QStringLiteral("You're on ") + appVersion +
                    QStringLiteral(", the newest version.")};
    case Kind::downloading:
        return {QStringLiteral("Downloading Ostrel…"), std::nullopt};
    case Kind::installing:
        return {QStringLiteral("Installing…"),
                QStringLiteral("Ostrel will restart when it's done.")};
    }
    return {};
}

QWidget* UpdateWindow::releaseView(const UpdateFeed::Release& release) const {
    auto* view = new QWidget;
    auto* column = new QVBoxLayout(view);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);
    auto* caption = new QHBoxLayout;
    caption->setContentsMargins(11, 0, 0, 0);
    caption->setSpacing(8);
    auto* version = label(release.version, 13, QFont::DemiBold, view);
    version->setAccessibleDescription(QStringLiteral("heading"));
    caption->addWidget(version);
    if (release.date) {
        auto* date = label(*release.date, 12, QFont::Normal, view);
        tint(date, faded(this, 0.55));
        caption->addWidget(date);
    }
    caption->addStretch(1);
    column->addLayout(caption);
    auto* lines = new QVBoxLayout;
    lines->setSpacing(4);
    for (const QString& note : release.notes) {
        auto* row = new QHBoxLayout;
        row->setSpacing(0);
        auto* bullet = label(tr("•"), 13, QFont::Normal, view);
        bullet->setFixedWidth(11);
        bullet->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        tint(bullet, faded(this, 0.7));
        auto* text = label(note, 13, QFont::Normal, view);
        text->setWordWrap(true);
        text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        row->addWidget(bullet, 0, Qt::AlignTop);
        row->addWidget(text, 1);
        lines->addLayout(row);
    }
    column->addLayout(lines);
    return view;
}

void UpdateWindow::rebuild() {
    if (!controller_) {
        return;
    }
    delete content_;
    content_ = new QWidget(this);
    const auto& phase = controller_->phase();
    const Kind kind = phase ? phase->kind : Kind::failed;

    auto* stack = new QVBoxLayout(content_);
    // The content's edge is 20 pixels in; the stack starts where the icon's widget does, and every
    // row below the header keeps to the edge.
    stack->setContentsMargins(20 - HeaderIcon::reach, 28, 20, 20);
    stack->setSpacing(0);
    const auto row = [](QLayout* layout) {
        layout->setContentsMargins(HeaderIcon::reach, 0, 0, 0);
        return layout;
    };
    const auto alone = [&row](QWidget* widget) {
        auto* line = new QHBoxLayout;
        line->addWidget(widget);
        return row(line);
    };

    auto* header = new QHBoxLayout;
    header->setSpacing(0);
    header->addWidget(new HeaderIcon(content_), 0, Qt::AlignVCenter);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(4);
    // The titles sit together, centred beside the taller icon, rather than spread over its height.
    titles->addStretch(1);
    const Texts t = texts(phase, controller_->environment());
    auto* title = label(t.title, 13, QFont::Bold, content_);
    title->setObjectName(QStringLiteral("title"));
    titles->addWidget(title);
    if (t.subtitle) {
        auto* subtitle = label(*t.subtitle, 12, QFont::Normal, content_);
        subtitle->setObjectName(QStringLiteral("subtitle"));
        subtitle->setWordWrap(true);
        tint(subtitle, faded(this, 0.7));
        titles->addWidget(subtitle);
    }
    titles->addStretch(1);
    header->addLayout(titles, 1);
    stack->addLayout(header);

    const QList<UpdateFeed::Release> notes = controller_->releaseNotes();
    if (phase && kind == Kind::available && !notes.isEmpty()) {
        stack->addSpacing(16);
        auto* caption = new QHBoxLayout;
        caption->setSpacing(8);
        caption->addWidget(label(tr("What's new"), 12, QFont::DemiBold, content_));
        caption->addStretch(1);
        if (controller_->changelogLink()) {
            auto* link = new PushButton(tr("Full changelog"), content_);
            link->setObjectName(QStringLiteral("changelog"));
            link->setFlat(true);
            link->setCursor(Qt::PointingHandCursor);
            QFont font = link->font();
            font.setPixelSize(12);
            link->setFont(font);
            QPalette p = link->palette();
            p.setColor(QPalette::ButtonText, p.color(QPalette::Link));
            link->setPalette(p);
            // The arrow after the text, 4 pixels on, as a mirrored button lays out its icon.
            link->setLayoutDirection(Qt::RightToLeft);
            link->setIconSize(QSize(10, 10));
            link->setIcon(QIcon(Symbols::pixmap(QStringLiteral("arrow.up.right"),
                                                p.color(QPalette::Link), 10, devicePixelRatioF())));
            connect(link, &QPushButton::clicked, controller_, &UpdateController::openLink);
            caption->addWidget(link);
        }
        stack->addLayout(row(caption));
        stack->addSpacing(8);

        auto* list = new QWidget;
        list->setObjectName(QStringLiteral("notesList"));
        auto* releases = new QVBoxLayout(list);
        releases->setContentsMargins(12, 12, 20, 12);
        releases->setSpacing(16);
        for (const UpdateFeed::Release& release : notes) {
            releases->addWidget(releaseView(release));
        }
        releases->addStretch(1);
        auto* scroll = new QScrollArea(content_);
        scroll->setObjectName(QStringLiteral("notes"));
        scroll->setAccessibleName(tr("Release notes"));
        scroll->setFixedHeight(notesHeight);
        scroll->setWidgetResizable(true);
        scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        scroll->setWidget(list);
        scroll->setStyleSheet(QStringLiteral(
            "QScrollArea#notes { background: palette(base); border: 1px solid palette(mid);"
            " border-radius: 6px; } QWidget#notesList { background: palette(base); }"));
        stack->addLayout(alone(scroll));
    }

    if (phase && (kind == Kind::downloading || kind == Kind::installing)) {
        stack->addSpacing(16);
        auto* progress = new QProgressBar(content_);
        progress->setObjectName(QStringLiteral("progress"));
        progress->setRange(0, 0);
        progress->setTextVisible(false);
        stack->addLayout(alone(progress));
    }

    stack->addSpacing(20);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    if (phase && kind == Kind::available) {
        auto* skip = new PushButton(tr("Skip This Version"), content_);
        auto* later = new PushButton(tr("Later"), content_);
        auto* install = new PushButton(tr("Install"), content_);
        install->setDefault(true);
        connect(skip, &QPushButton::clicked, controller_, &UpdateController::skipThisVersion);
        connect(later, &QPushButton::clicked, controller_, &UpdateController::dismiss);
        connect(install, &QPushButton::clicked, controller_, &UpdateController::install);
        buttons->addWidget(skip);
        buttons->addSpacing(12);
        buttons->addStretch(1);
        buttons->addWidget(later);
        buttons->addWidget(install);
    } else {
        auto* ok = new PushButton(tr("OK"), content_);
        ok->setDefault(true);
        ok->setEnabled(!phase || (kind != Kind::checking && kind != Kind::downloading &&
                                  kind != Kind::installing));
        connect(ok, &QPushButton::clicked, controller_, &UpdateController::dismiss);
        buttons->addSpacing(12);
        buttons->addStretch(1);
        buttons->addWidget(ok);
    }
    stack->addLayout(row(buttons));

    layout_->addWidget(content_);
    content_->show();
    // The width is fixed; the height is what the wrapped texts need at that width.
    stack->activate();
    const int wrapped = content_->hasHeightForWidth() ? content_->heightForWidth(contentWidth) : -1;
    setFixedHeight(wrapped > 0 ? wrapped : content_->sizeHint().height());
}

void UpdateWindow::present() {
    if (isVisible()) {
        return;
    }
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), size());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    const bool active = QGuiApplication::applicationState() == Qt::ApplicationActive;
    setAttribute(Qt::WA_ShowWithoutActivating, !active);
    show();
    raise();
    if (active) {
        activateWindow();
    }
}

void UpdateWindow::closeQuietly() {
    closing_ = true;
    close();
    closing_ = false;
}

void UpdateWindow::keyPressEvent(QKeyEvent* event) {
    // Escape closes the window as its close button does; Return and Enter that no button took
    // (the release notes have the focus, or nothing has) press the default button, once while
    // held down: a repeat would dismiss the failure the first press brought.
    if (event->key() == Qt::Key_Escape &&
        (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        close();
        return;
    }
    if (PushButton::pressesButton(*event) && content_) {
        for (QPushButton* button : content_->findChildren<QPushButton*>()) {
            if (button->isDefault() && button->isEnabled()) {
                PushButton::pressOnReturn(*button, *event);
                return;
            }
        }
    }
    QWidget::keyPressEvent(event);
}

void UpdateWindow::closeEvent(QCloseEvent* event) {
    event->accept();
    if (!closing_ && controller_) {
        controller_->dismiss();
    }
}

} // namespace ostrel
