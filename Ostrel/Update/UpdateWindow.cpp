#include "Ostrel/Update/UpdateWindow.h"

#include "Ostrel/Widgets/Accessibility.h"
#include "Ostrel/Widgets/AppIcon.h"
#include "Ostrel/Widgets/FocusRing.h"
#include "Ostrel/Widgets/HighContrast.h"
#include "Ostrel/Widgets/PushButton.h"
#include "Ostrel/Widgets/SettingsColors.h"
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
#include <QScrollBar>
#include <QSpacerItem>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextFrame>
#include <QTextLayout>
#include <QTextList>
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
// drawn at and a layout could not place. The window draws it in the room this keeps.
struct HeaderIcon {
    static constexpr double side = UpdateWindow::iconSize;
    static constexpr double overhang = 6.25;
    static constexpr double spacing = 9.75;
    // Whole pixels the room starts left of the content's edge.
    static constexpr int reach = 7;

    static QSpacerItem* room() {
        return new QSpacerItem(static_cast<int>(std::ceil(reach - overhang + side + spacing)),
                               static_cast<int>(side), QSizePolicy::Fixed, QSizePolicy::Fixed);
    }
};

// The widgets `layout` holds, at any depth, in order.
QList<QWidget*> widgetsIn(QLayout* layout) {
    QList<QWidget*> widgets;
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem* item = layout->itemAt(i);
        if (QWidget* w = item->widget()) {
            widgets.append(w);
        } else if (QLayout* inner = item->layout()) {
            widgets += widgetsIn(inner);
        }
    }
    return widgets;
}

// Empties `layout` of its items and inner layouts; the widgets stay, as the caller's.
void empty(QLayout* layout) {
    while (QLayoutItem* item = layout->takeAt(0)) {
        if (QLayout* inner = item->layout()) {
            empty(inner);
        }
        delete item;
    }
}

// A release's version as assistive technology finds it in the notes: a heading over the version's
// words in the text, so that the notes stay one text to read and look as they did. The rich
// text's own heading level does not reach a screen reader. The widget itself stays hidden: its
// place is read off the text whenever it is asked for.
class VersionHeading : public QWidget {
public:
    VersionHeading(const QString& version, int block, QWidget* notes)
        : QWidget(notes), block(block), length(static_cast<int>(version.size())) {
        setAccessibleName(version);
        hide();
    }

    // The caption's block in the notes' document, and how many of its characters are the
    // version's.
    const int block;
    const int length;
};

// The release notes: one read-only text, with each release's version a heading.
class NotesView : public QTextEdit {
public:
    NotesView();

    void addHeading(const QString& version, int block) { new VersionHeading(version, block, this); }

    // Where the heading's words show now, in the viewport; empty while they are scrolled out of
    // sight or not laid out.
    QRect shownWords(const VersionHeading& heading) const {
        const QTextLayout* layout = document()->findBlockByNumber(heading.block).layout();
        QRectF words;
        for (int i = 0; layout != nullptr && i < layout->lineCount(); ++i) {
            const QTextLine line = layout->lineAt(i);
            if (line.textStart() >= heading.length) {
                break;
            }
            const int end = std::min(heading.length, line.textStart() + line.textLength());
            const double left = line.cursorToX(line.textStart());
            words |= QRectF(layout->position() + QPointF(left, line.y()),
                            QSizeF(line.cursorToX(end) - left, line.height()));
        }
        const QPoint scrolled(horizontalScrollBar()->value(), verticalScrollBar()->value());
        return words.toAlignedRect().translated(-scrolled) & viewport()->rect();
    }
};

class AccessibleHeading : public QAccessibleWidget {
public:
    explicit AccessibleHeading(QWidget* heading)
        : QAccessibleWidget(heading, QAccessible::Heading) {}

    QRect rect() const override {
        const auto* notes = static_cast<const NotesView*>(widget()->parentWidget());
        const QRect shown = notes->shownWords(*static_cast<const VersionHeading*>(widget()));
        return shown.isEmpty()
                   ? QRect()
                   : QRect(notes->viewport()->mapToGlobal(shown.topLeft()), shown.size());
    }

    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.invisible = !widget()->parentWidget()->isVisible() || rect().isEmpty();
        s.offscreen = s.invisible;
        s.focusable = false;
        return s;
    }
};

NotesView::NotesView() {
    installAccessible<VersionHeading, AccessibleHeading>();
}

} // namespace

UpdateWindow::UpdateWindow(UpdateController* controller) : controller_(controller) {
    setAccessibleWindowRole(this, QAccessible::Dialog);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::CustomizeWindowHint);
    setWindowTitle(tr("Software Update"));
    setFixedWidth(contentWidth);
    layout_ = new QVBoxLayout(this);
    // The content's edge is 20 pixels in; the layout starts where the icon's room does, and
    // every row below the header keeps to the edge.
    layout_->setContentsMargins(20 - HeaderIcon::reach, 28, 20, 20);
    layout_->setSpacing(0);
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

QTextEdit* UpdateWindow::notesView(const QList<UpdateFeed::Release>& releases) const {
    // One read-only text: a screen reader reads it whole, each release's version a heading over
    // the list of its notes.
    auto* view = new NotesView;
    view->setObjectName(QStringLiteral("notes"));
    view->setAccessibleName(tr("Release notes"));
    view->setReadOnly(true);
    view->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    view->setFixedHeight(notesHeight);
    view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // The palette's mid tone vanishes on a high-contrast palette's black or white.
    const QString edge = SettingsColors::isHighContrast() ? HighContrast::ink().name()
                                                          : QStringLiteral("palette(mid)");
    view->setStyleSheet(QStringLiteral("QTextEdit#notes { background: palette(base); border: 1px "
                                       "solid %1; border-radius: 6px; }")
                            .arg(edge));

    QTextDocument* doc = view->document();
    doc->setUndoRedoEnabled(false);
    doc->setDocumentMargin(0);
    // The notes' texts start past the bullets' column, as the captions do.
    doc->setIndentWidth(11);
    QTextFrameFormat frame = doc->rootFrame()->frameFormat();
    frame.setTopMargin(12);
    frame.setLeftMargin(12);
    frame.setBottomMargin(12);
    frame.setRightMargin(20);
    doc->rootFrame()->setFrameFormat(frame);

    const auto charFormat = [&](int pixels, QFont::Weight weight, const QColor& color) {
        QTextCharFormat f;
        QFont font = view->font();
        font.setPixelSize(pixels);
        font.setWeight(weight);
        f.setFont(font);
        f.setForeground(color);
        return f;
    };
    const QColor text = palette().color(QPalette::WindowText);
    const QTextCharFormat versionFormat = charFormat(13, QFont::DemiBold, text);
    const QTextCharFormat dateFormat = charFormat(12, QFont::Normal, faded(this, 0.55));
    const QTextCharFormat noteFormat = charFormat(13, QFont::Normal, text);
    // The bullet is drawn in the view's text colour, fainter than the note's own, and at the size
    // of a bullet character of the note's font.
    QPalette bullets = view->palette();
    bullets.setColor(QPalette::Text, faded(this, 0.7));
    view->setPalette(bullets);
    const QTextCharFormat bulletFormat = charFormat(11, QFont::Normal, faded(this, 0.7));
    QTextListFormat listFormat;
    listFormat.setStyle(QTextListFormat::ListDisc);
    listFormat.setIndent(1);

    QTextCursor cursor(doc);
    bool first = true;
    for (const UpdateFeed::Release& release : releases) {
        QTextBlockFormat caption;
        caption.setHeadingLevel(3);
        caption.setLeftMargin(11);
        caption.setTopMargin(first ? 0 : 16);
        caption.setBottomMargin(release.notes.isEmpty() ? 0 : 8);
        if (release.date) {
            // The date 8 pixels after the version.
            const double at =
                QFontMetricsF(versionFormat.font()).horizontalAdvance(release.version);
            caption.setTabPositions({QTextOption::Tab(at + 8, QTextOption::LeftTab)});
        }
        if (first) {
            cursor.setBlockFormat(caption);
            cursor.setBlockCharFormat(versionFormat);
        } else {
            cursor.insertBlock(caption, versionFormat);
        }
        first = false;
        view->addHeading(release.version, cursor.blockNumber());
        cursor.insertText(release.version, versionFormat);
        if (release.date) {
            cursor.insertText(QStringLiteral("\t") + *release.date, dateFormat);
        }
        QTextList* list = nullptr;
        for (qsizetype i = 0; i < release.notes.size(); ++i) {
            QTextBlockFormat item;
            item.setBottomMargin(i + 1 < release.notes.size() ? 4 : 0);
            cursor.insertBlock(item, bulletFormat);
            if (list == nullptr) {
                list = cursor.createList(listFormat);
            } else {
                list->add(cursor.block());
            }
            cursor.insertText(release.notes.at(i), noteFormat);
        }
    }
    // The view's own cursor moved along as the text went in before it: back to the start, where
    // the notes open and a screen reader starts reading, not at their end.
    view->moveCursor(QTextCursor::Start);
    return view;
}

void UpdateWindow::rebuild() {
    if (!controller_) {
        return;
    }
    // The last phase's widgets go once the new ones hold the focus, so that it never falls out
    // of the window on the way.
    const QList<QWidget*> previous = widgetsIn(layout_);
    empty(layout_);
    const auto& phase = controller_->phase();
    const Kind kind = phase ? phase->kind : Kind::failed;
    const bool failed = phase && kind == Kind::failed;
    const Texts t = texts(phase, controller_->environment());
    // A failure is read out as an alert; every other phase is a dialog with its buttons.
    setAccessibleWindowRole(this, failed ? QAccessible::AlertMessage : QAccessible::Dialog);

    QVBoxLayout* stack = layout_;
    iconHost_ = this;
    if (failed) {
        // A window read as a dialog keeps that role for a screen reader however it changes
        // later: the bridge tells of no change of role and drops the alert event. The failure
        // comes as a new alert that holds the whole phase, so that the focus moving onto its
        // "OK" enters it and is heard entering an alert, after a check or a download as well.
        auto* alert = new QWidget(this);
        alert->setObjectName(QStringLiteral("alert"));
        // The role before the name: naming asks for the reading that is then kept.
        setAccessibleWindowRole(alert, QAccessible::AlertMessage);
        alert->setAccessibleName(t.title);
        stack = new QVBoxLayout(alert);
        stack->setContentsMargins(0, 0, 0, 0);
        stack->setSpacing(0);
        layout_->addWidget(alert);
        iconHost_ = alert;
    }
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
    iconSpace_ = HeaderIcon::room();
    header->addItem(iconSpace_);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(4);
    // The titles sit together, centred beside the taller icon, rather than spread over its height.
    titles->addStretch(1);
    auto* title = label(t.title, 13, QFont::Bold, this);
    title->setObjectName(QStringLiteral("title"));
    titles->addWidget(title);
    if (t.subtitle) {
        auto* subtitle = label(*t.subtitle, 12, QFont::Normal, this);
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
        caption->addWidget(label(tr("What's new"), 12, QFont::DemiBold, this));
        caption->addStretch(1);
        if (controller_->changelogLink()) {
            auto* link = new PushButton(tr("Full changelog"), this);
            link->setObjectName(QStringLiteral("changelog"));
            link->setFlat(true);
            link->setAccessibleDescription(tr("Opens the full changelog in your web browser"));
            link->setCursor(Qt::PointingHandCursor);
            QFont font = link->font();
            font.setPixelSize(12);
            link->setFont(font);
            // The palette's link colour, pure blue where the desktop sets none, is lost on
            // black: a high-contrast palette's link reads in its text colour, the arrow marking it.
            QPalette p = link->palette();
            p.setColor(QPalette::ButtonText, SettingsColors::isHighContrast()
                                                 ? HighContrast::ink()
                                                 : p.color(QPalette::Link));
            link->setPalette(p);
            // The arrow after the text, 4 pixels on, as a mirrored button lays out its icon.
            link->setLayoutDirection(Qt::RightToLeft);
            link->setIconSize(QSize(10, 10));
            link->setIcon(
                QIcon(Symbols::pixmap(QStringLiteral("arrow.up.right"),
                                      p.color(QPalette::ButtonText), 10, devicePixelRatioF())));
            connect(link, &QPushButton::clicked, controller_, &UpdateController::openLink);
            caption->addWidget(link);
        }
        stack->addLayout(row(caption));
        stack->addSpacing(8);

        stack->addLayout(alone(notesView(notes)));
    }

    QProgressBar* progress = nullptr;
    if (phase && (kind == Kind::downloading || kind == Kind::installing)) {
        stack->addSpacing(16);
        progress = new QProgressBar(this);
        progress->setObjectName(QStringLiteral("progress"));
        // Busy: a range of nothing. Its value is that nothing too, not the -1 Qt keeps for "no
        // value yet": a screen reader measures a value against its range, and a busy bar at -1
        // in 0 to 0 makes Orca drop the whole utterance (a division by the empty range), where
        // 0 of 0 is read as a busy bar, saying no untrue percentage.
        progress->setRange(0, 0);
        progress->setValue(0);
        progress->setTextVisible(false);
        // While it works the window's only stop: it names the phase to whoever Tabs to it.
        progress->setFocusPolicy(Qt::TabFocus);
        progress->setAccessibleName(t.title);
        progress->setAccessibleDescription(t.subtitle.value_or(QString()));
        stack->addLayout(alone(progress));
    }

    stack->addSpacing(20);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    QPushButton* defaultButton = nullptr;
    if (phase && kind == Kind::available) {
        auto* skip = new PushButton(tr("Skip This Version"), this);
        auto* later = new PushButton(tr("Later"), this);
        auto* install = new PushButton(tr("Install"), this);
        install->setDefault(true);
        connect(skip, &QPushButton::clicked, controller_, &UpdateController::skipThisVersion);
        connect(later, &QPushButton::clicked, controller_, &UpdateController::dismiss);
        connect(install, &QPushButton::clicked, controller_, &UpdateController::install);
        buttons->addWidget(skip);
        buttons->addSpacing(12);
        buttons->addStretch(1);
        buttons->addWidget(later);
        buttons->addWidget(install);
        defaultButton = install;
    } else {
        auto* ok = new PushButton(tr("OK"), this);
        ok->setDefault(true);
        ok->setEnabled(!phase || (kind != Kind::checking && kind != Kind::downloading &&
                                  kind != Kind::installing));
        connect(ok, &QPushButton::clicked, controller_, &UpdateController::dismiss);
        buttons->addSpacing(12);
        buttons->addStretch(1);
        buttons->addWidget(ok);
        defaultButton = ok;
    }
    stack->addLayout(row(buttons));

    for (QWidget* widget :
         widgetsIn(layout_) + (stack != layout_ ? widgetsIn(stack) : QList<QWidget*>())) {
        widget->show();
    }
    // The width is fixed; the height is what the wrapped texts need at that width.
    layout_->activate();
    const int wrapped = hasHeightForWidth() ? heightForWidth(contentWidth) : -1;
    setFixedHeight(wrapped > 0 ? wrapped : sizeHint().height());

    // The focus goes to the phase's default button, else to its progress bar, else (a check
    // running, its "OK" off) to the window itself; the one that takes it carries the phase's
    // words, which a screen reader speaks with it. The focus lands as the window is activated
    // when it is not active now.
    const QString words = t.subtitle ? t.title + QStringLiteral(". ") + *t.subtitle : t.title;
    QWidget* focus = this;
    if (defaultButton->isEnabled()) {
        defaultButton->setAccessibleDescription(words);
        focus = defaultButton;
    } else if (progress != nullptr) {
        focus = progress;
    }
    setAccessibleDescription(focus == this ? words : QString());
    focus->setFocus(Qt::OtherFocusReason);
    qDeleteAll(previous);
    update();
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
    if (PushButton::pressesButton(*event)) {
        for (QPushButton* button : findChildren<QPushButton*>()) {
            if (button->isDefault() && button->isEnabled()) {
                PushButton::pressOnReturn(*button, *event);
                return;
            }
        }
    }
    QWidget::keyPressEvent(event);
}

void UpdateWindow::paintEvent(QPaintEvent*) {
    if (iconSpace_ == nullptr) {
        return;
    }
    // Centred in its room as the header's row centres its items.
    const QRect room =
        iconSpace_->geometry().translated(iconHost_ ? iconHost_->mapTo(this, QPoint()) : QPoint());
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(QRectF(room.left() + HeaderIcon::reach - HeaderIcon::overhang,
                       room.top() + (room.height() - static_cast<int>(HeaderIcon::side)) / 2,
                       HeaderIcon::side, HeaderIcon::side),
                AppIcon::image());
}

void UpdateWindow::closeEvent(QCloseEvent* event) {
    event->accept();
    if (!closing_ && controller_) {
        controller_->dismiss();
    }
}

} // namespace ostrel
