#include "Platform/PreviewPanel.h"

#include "Platform/Desktop.h"
#include "Platform/ImageSource.h"

#include <QCloseEvent>
#include <QFile>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeDatabase>
#include <QMovie>
#include <QPainter>
#include <QPdfDocument>
#include <QPdfView>
#include <QPlainTextEdit>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QScreen>
#include <QStackedLayout>
#include <QSvgRenderer>
#include <QVBoxLayout>

#include <sys/stat.h>
#include <unistd.h>

namespace ostrel {

namespace {

const QColor backdrop(38, 38, 40);
// Every kind lies this far inside the window's edges: a picture, a drawing, a PDF's pages, a
// text's lines.
constexpr int framing = 16;
// Text previews: a size that reads at a glance.
constexpr int textPixelSize = 14;
// No picture is decoded larger than the largest screen, in pixels, nor than this.
constexpr int largestSide = 4096;
// The side of a file's icon or symbol, in points.
constexpr int iconSide = 128;
// The strip that names the item where no window manager's title bar does.
constexpr int titleHeight = 30;
constexpr int titlePixelSize = 13;

// One dark scheme for everything the window holds: its text light on the window's ground (at
// least 4.5:1 for the quieter notes, far more for the rest), a text file's page the same ground,
// and scroll bars that belong to it rather than to the light desktop style.
const char* const panelStyle =
    "QLabel { color: #ebebeb; }"
    "QLabel#note { color: #a8a8ad; }"
    "QPlainTextEdit { background: #262628; color: #e6e6e6; border: none;"
    " selection-background-color: #3d5d8c; selection-color: #ffffff; }"
    "QPushButton { color: #ebebeb; background: #3a3a3d; border: 1px solid #56565a;"
    " border-radius: 6px; padding: 6px 16px; }"
    "QPushButton:hover { background: #47474b; }"
    "QPushButton:pressed { background: #2c2c2f; }"
    "QScrollBar:vertical { background: #262628; width: 12px; margin: 0; border: none; }"
    "QScrollBar:horizontal { background: #262628; height: 12px; margin: 0; border: none; }"
    "QScrollBar::handle { background: #5c5c61; border-radius: 4px; margin: 2px; }"
    "QScrollBar::handle:vertical { min-height: 32px; }"
    "QScrollBar::handle:horizontal { min-width: 32px; }"
    "QScrollBar::handle:hover { background: #7a7a80; }"
    "QScrollBar::add-line, QScrollBar::sub-line { width: 0; height: 0; border: none; }"
    "QScrollBar::add-page, QScrollBar::sub-page { background: none; }";

// Where the shown part of a canvas of `area` lies: inside the framing.
QRectF framed(QSizeF area) {
    return QRectF(QPointF(), area).adjusted(framing, framing, -framing, -framing);
}

// Renders what `draw` paints in a canvas of `area`, cut to `part`, at the screens' pixel ratio.
template <typename Draw> QImage rendered(QSizeF area, const QRectF& part, qreal ratio, Draw draw) {
    const QRect whole = part.toAlignedRect();
    if (whole.isEmpty()) {
        return {};
    }
    QImage image((QSizeF(whole.size()) * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) {
        return {};
    }
    image.setDevicePixelRatio(ratio);
    image.fill(backdrop);
    QPainter p(&image);
    p.translate(-whole.topLeft());
    draw(p, area);
    return image;
}

// Draws a picture fitted into the widget inside the framing, centred, never enlarged beyond its
// own size.
class PictureCanvas final : public QWidget {
public:
    explicit PictureCanvas(QWidget* parent) : QWidget(parent) {}
    void setImage(const QImage& image) {
        image_ = image;
        update();
    }
    const QImage& image() const { return image_; }
    // Where the picture lies in a canvas of `area`; empty without one.
    QRectF target(QSizeF area) const {
        if (image_.isNull()) {
            return {};
        }
        const QRectF room = framed(area);
        const QSizeF natural = image_.deviceIndependentSize();
        QSizeF fitted = natural.scaled(room.size().expandedTo(QSizeF(1, 1)), Qt::KeepAspectRatio);
        if (fitted.width() > natural.width()) {
            fitted = natural;
        }
        return QRectF(room.center() - QPointF(fitted.width() / 2, fitted.height() / 2), fitted);
    }
    void draw(QPainter& p, QSizeF area) const {
        p.fillRect(QRectF(QPointF(), area), backdrop);
        if (image_.isNull()) {
            return;
        }
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawImage(target(area), image_);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        draw(p, QSizeF(size()));
    }

private:
    QImage image_;
};

// Draws an SVG drawing fitted into the widget, keeping its proportions; animated drawings play.
// It draws from the source's bytes, which hold no reference to any other file, and nothing it
// paints reaches beyond its own viewport.
class DrawingCanvas final : public QWidget {
public:
    DrawingCanvas(const ImageSource& source, QWidget* parent)
        : QWidget(parent), renderer_(source.bytes, this) {
        connect(&renderer_, &QSvgRenderer::repaintNeeded, this, qOverload<>(&QWidget::update));
    }
    bool isValid() const { return renderer_.isValid(); }
    // Where the drawing lies in a canvas of `area`.
    QRectF target(QSizeF area) const {
        return ImageSource::viewport(renderer_.viewBoxF().size(), framed(area));
    }
    void draw(QPainter& p, QSizeF area) {
        p.fillRect(QRectF(QPointF(), area), backdrop);
        const QRectF viewport = target(area);
        p.setClipRect(viewport, Qt::IntersectClip);
        p.setRenderHint(QPainter::Antialiasing);
        renderer_.render(&p, viewport);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        draw(p, QSizeF(size()));
    }

private:
    QSvgRenderer renderer_;
};

// Names the item at the top of the window, cut in the middle when it is long.
class TitleStrip final : public QLabel {
public:
    explicit TitleStrip(QWidget* parent) : QLabel(parent) {
        setFixedHeight(titleHeight);
        QFont font = this->font();
        font.setPixelSize(titlePixelSize);
        font.setWeight(QFont::DemiBold);
        setFont(font);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), QColor(28, 28, 30));
        p.fillRect(QRect(0, height() - 1, width(), 1), QColor(58, 58, 61));
        p.setPen(QColor(235, 235, 235));
        const QRect room = rect().adjusted(framing, 0, -framing, -1);
        p.drawText(room, Qt::AlignCenter,
                   fontMetrics().elidedText(text(), Qt::ElideMiddle, room.width()));
    }
};

// The picture of a card on its way into the preview or back: drawn at whatever size the window
// has, passing every click through.
class ZoomWindow final : public QWidget {
public:
    explicit ZoomWindow(const QImage& image)
        : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                               Qt::BypassWindowManagerHint | Qt::WindowDoesNotAcceptFocus),
          image_(image) {
        setAttribute(Qt::WA_ShowWithoutActivating);
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_DeleteOnClose);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawImage(QRectF(rect()), image_);
    }

private:
    QImage image_;
};

// The longest side a preview decodes a picture at: the largest screen's, in pixels.
int previewSide() {
    int side = 1024;
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QSizeF pixels = QSizeF(screen->size()) * screen->devicePixelRatio();
        side = std::max(side, int(std::ceil(std::max(pixels.width(), pixels.height()))));
    }
    return std::min(side, largestSide);
}

bool isRegularReadable(const QString& path) {
    struct stat st {};
    const QByteArray native = QFile::encodeName(path);
    return ::stat(native.constData(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(native.constData(), R_OK) == 0;
}

QIcon fileIcon(const QString& path) {
    const QMimeType mime = QMimeDatabase().mimeTypeForFile(path);
    QIcon icon = QIcon::fromTheme(mime.iconName(), QIcon::fromTheme(mime.genericIconName()));
    if (icon.isNull()) {
        icon = QFileIconProvider().icon(QFileInfo(path));
    }
    return icon;
}

// Keys land on the panel, not on its views: the panel hands them to its hook first.
void refuseFocus(QWidget* widget) {
    widget->setFocusPolicy(Qt::NoFocus);
    for (QWidget* child : widget->findChildren<QWidget*>()) {
        child->setFocusPolicy(Qt::NoFocus);
    }
}

} // namespace

PreviewPanel::PreviewPanel(std::shared_ptr<Desktop> desktop)
    : QWidget(nullptr, Qt::Window | Qt::WindowStaysOnTopHint),
      desktop_(desktop ? std::move(desktop) : Desktop::system()), title_(new TitleStrip(this)) {
    // Appearing must not pull the focus away from the application the user works in.
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(smallestSize);
    resize(defaultSize);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    title_->hide();
    column->addWidget(title_);
    auto* holder = new QWidget(this);
    stack_ = new QStackedLayout(holder);
    stack_->setContentsMargins(0, 0, 0, 0);
    column->addWidget(holder, 1);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, backdrop);
    palette.setColor(QPalette::WindowText, QColor(235, 235, 235));
    setPalette(palette);
    setAutoFillBackground(true);
    setStyleSheet(QString::fromLatin1(panelStyle));
}

PreviewPanel::~PreviewPanel() = default;

PreviewPanel::Content PreviewPanel::classify(const QString& path) {
    return classify(path, nullptr);
}

PreviewPanel::Content PreviewPanel::classify(const QString& path,
                                             std::optional<ImageSource>* opened) {
    if (!isRegularReadable(path)) {
        return Content::unreadable;
    }
    // A picture or a drawing is whatever its bytes say, whatever its name says.
    switch (ImageSource::sniffFile(path)) {
    case ImageFormat::Kind::none:
        break;
    case ImageFormat::Kind::svg:
        return Content::svg;
    default: {
        auto source = ImageSource::openFile(path);
        if (!source) {
            return Content::other;
        }
        const Content content = source->format.animated ? Content::movie : Content::image;
        if (opened != nullptr) {
            *opened = std::move(source);
        }
        return content;
    }
    }
    const QMimeType mime = QMimeDatabase().mimeTypeForFile(path);
    if (mime.inherits(QStringLiteral("application/pdf"))) {
        return Content::pdf;
    }
    if (mime.name().startsWith(QLatin1String("image/"))) {
        return Content::other; // named a picture, holding none
    }
    // Web pages would show as markup: they go to the browser instead.
    if (mime.inherits(QStringLiteral("text/html"))) {
        return Content::page;
    }
    if (mime.inherits(QStringLiteral("text/plain")) ||
        mime.name() == QLatin1String("application/x-zerosize")) {
        return Content::text;
    }
    return Content::other;
}

QWidget* PreviewPanel::zoom(const QImage& image, const QRect& from, const QRect& to, double seconds,
                            std::function<void()> landed) {
    if (image.isNull() || (from.isEmpty() && to.isEmpty()) || seconds <= 0) {
        return nullptr;
    }
    // A window has at least one pixel: an empty end is a point, where the rectangle starts.
    const auto least = [](const QRect& r) {
        return r.isEmpty() ? QRect(r.topLeft(), QSize(1, 1)) : r;
    };
    auto* window = new ZoomWindow(image);
    window->setGeometry(least(from));
    window->show();
    auto* grow = new QPropertyAnimation(window, "geometry", window);
    grow->setDuration(int(seconds * 1000));
    grow->setStartValue(least(from));
    grow->setEndValue(least(to));
    grow->setEasingCurve(QEasingCurve::OutCubic);
    if (landed) {
        QObject::connect(grow, &QPropertyAnimation::finished, window, std::move(landed));
    } else {
        QObject::connect(grow, &QPropertyAnimation::finished, window, &QWidget::close);
    }
    // Frames worked out for the screens as they were mean nothing once a screen comes, goes or
    // changes its scale: the picture leaves at once and the move counts as done.
    const auto abandon = [window, grow] {
        window->hide();
        grow->setCurrentTime(grow->totalDuration());
    };
    QObject::connect(qApp, &QGuiApplication::screenAdded, window, abandon);
    QObject::connect(qApp, &QGuiApplication::screenRemoved, window, abandon);
    for (QScreen* screen : QGuiApplication::screens()) {
        QObject::connect(screen, &QScreen::geometryChanged, window, abandon);
    }
    grow->start();
    return window;
}

void PreviewPanel::setTitleShown(bool shown) {
    title_->setVisible(shown);
}

bool PreviewPanel::titleShown() const {
    return !title_->isHidden();
}

QRect PreviewPanel::contentArea() const {
    return rect().adjusted(0, titleShown() ? titleHeight : 0, 0, 0);
}

QRect PreviewPanel::framedArea() const {
    return contentArea().adjusted(framing, framing, -framing, -framing);
}

std::optional<QRect> PreviewPanel::pictureFrame() const {
    const QRect area = contentArea();
    QRectF target;
    if (const auto* picture = dynamic_cast<const PictureCanvas*>(view_)) {
        target = picture->target(QSizeF(area.size()));
    } else if (const auto* drawing = dynamic_cast<const DrawingCanvas*>(view_)) {
        target = drawing->target(QSizeF(area.size()));
    }
    if (target.isEmpty()) {
        return std::nullopt;
    }
    return target.translated(area.topLeft()).toAlignedRect();
}

QImage PreviewPanel::picture() const {
    const QSizeF area(contentArea().size());
    const qreal ratio = devicePixelRatioF();
    if (auto* picture = dynamic_cast<PictureCanvas*>(view_)) {
        return rendered(area, picture->target(area), ratio,
                        [picture](QPainter& p, QSizeF a) { picture->draw(p, a); });
    }
    if (auto* drawing = dynamic_cast<DrawingCanvas*>(view_)) {
        return rendered(area, drawing->target(area), ratio,
                        [drawing](QPainter& p, QSizeF a) { drawing->draw(p, a); });
    }
    return {};
}

QImage PreviewPanel::snapshot() {
    // Laid out at its present size first, as it will show, although it is not on screen yet.
    ensurePolished();
    if (QLayout* column = layout()) {
        column->setGeometry(rect());
    }
    return grab().toImage();
}

QString PreviewPanel::shownText(const QByteArray& bytes) {
    const QString text = QString::fromUtf8(bytes);
    QString out;
    out.reserve(text.size() + text.size() / lineLimit + 1);
    qsizetype run = 0;
    for (const QChar c : text) {
        if (c == QLatin1Char('\n')) {
            run = 0;
        } else if (run == lineLimit) {
            out += QLatin1Char('\n');
            run = 0;
        }
        if (c != QLatin1Char('\n')) {
            ++run;
        }
        out += c;
    }
    return out;
}

void PreviewPanel::setItem(const QUrl& url, const QString& title) {
    url_ = url;
    name_ = title.isEmpty() ? url.fileName() : title;
    setWindowTitle(name_);
    title_->setText(name_);
    const QString path = url.isLocalFile() ? url.toLocalFile() : QString();
    std::optional<ImageSource> source;
    Content content = path.isEmpty() ? Content::unreadable : classify(path, &source);
    QWidget* view = build(content, path, std::move(source));
    if (!view) {
        content = Content::other;
        view = otherView(path, tr("This file cannot be shown here."));
    }
    if (view_) {
        // The old view may be handling the event that brought the new item: it goes later, and out
        // of the panel at once.
        stack_->removeWidget(view_);
        view_->hide();
        view_->setParent(nullptr);
        view_->deleteLater();
    }
    view_ = view;
    content_ = content;
    refuseFocus(view_);
    view_->installEventFilter(this);
    stack_->addWidget(view_);
    stack_->setCurrentWidget(view_);
}

QWidget* PreviewPanel::build(Content content, const QString& path,
                             std::optional<ImageSource> source) {
    if (!source &&
        (content == Content::image || content == Content::movie || content == Content::svg)) {
        source = ImageSource::openFile(path);
    }
    switch (content) {
    case Content::image: {
        const auto image = source ? source->picture(previewSide()) : std::nullopt;
        if (!image) {
            return nullptr;
        }
        auto* canvas = new PictureCanvas(this);
        canvas->setImage(*image);
        return canvas;
    }
    case Content::movie: {
        if (!source) {
            return nullptr;
        }
        auto* canvas = new PictureCanvas(this);
        QMovie* movie = source->movie(canvas);
        if (movie == nullptr) {
            delete canvas;
            return nullptr;
        }
        connect(movie, &QMovie::frameChanged, canvas,
                [canvas, movie] { canvas->setImage(movie->currentImage()); });
        movie->start();
        return canvas;
    }
    case Content::svg: {
        if (!source || !source->isDrawing()) {
            return nullptr;
        }
        auto* canvas = new DrawingCanvas(*source, this);
        if (!canvas->isValid()) {
            delete canvas;
            return nullptr;
        }
        return canvas;
    }
    case Content::pdf: {
        // The document goes before the view: closing it on the way out still reaches a whole
        // view, which a document owned by the view would not.
        auto* holder = new QWidget(this);
        auto* layout = new QVBoxLayout(holder);
        // Fitting a page in view, the view leaves out its own top and bottom margins and runs
        // the page past the window's edge: the framing above and below lies outside it.
        layout->setContentsMargins(0, framing, 0, framing);
        auto* document = new QPdfDocument(holder);
        if (document->load(path) != QPdfDocument::Error::None) {
            delete holder;
            return nullptr;
        }
        auto* view = new QPdfView(holder);
        // A scroll area's sunken frame would draw a light line along the ground's top and left.
        view->setFrameShape(QFrame::NoFrame);
        view->setDocument(document);
        view->setPageMode(QPdfView::PageMode::MultiPage);
        view->setZoomMode(QPdfView::ZoomMode::FitInView);
        view->setDocumentMargins(QMargins(framing, 0, framing, 0));
        QPalette palette = view->palette();
        palette.setColor(QPalette::Dark, backdrop);
        view->setPalette(palette);
        layout->addWidget(view);
        return holder;
    }
    case Content::text: {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            return nullptr;
        }
        const QByteArray bytes = file.read(textLimit);
        auto* text = new QPlainTextEdit(this);
        text->setReadOnly(true);
        text->setFrameShape(QFrame::NoFrame);
        QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        font.setPixelSize(textPixelSize);
        text->setFont(font);
        text->document()->setDocumentMargin(framing);
        text->setLineWrapMode(QPlainTextEdit::WidgetWidth);
        // Every line wraps, a long word included: there is never anything to scroll across to.
        text->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        text->setPlainText(shownText(bytes));
        if (file.bytesAvailable() > 0 || !file.atEnd()) {
            text->appendPlainText(tr("\n… (the rest of the file is not shown)"));
        }
        return text;
    }
    case Content::unreadable:
        return otherView(path, tr("This file cannot be read."));
    case Content::page:
    case Content::other:
    case Content::none:
        return otherView(path, QString(), content == Content::page);
    }
    return nullptr;
}

QWidget* PreviewPanel::otherView(const QString& path, const QString& note, bool page) {
    auto* box = new QWidget(this);
    auto* layout = new QVBoxLayout(box);
    layout->addStretch(1);
    auto* icon = new QLabel(box);
    const qreal ratio = devicePixelRatioF();
    QImage picture = symbol && page
                         ? symbol(QStringLiteral("globe"), int(std::ceil(iconSide * ratio)))
                         : QImage();
    if (!picture.isNull()) {
        picture.setDevicePixelRatio(ratio);
        icon->setPixmap(QPixmap::fromImage(picture));
    } else {
        icon->setPixmap(fileIcon(path).pixmap(iconSide, iconSide));
    }
    icon->setAlignment(Qt::AlignCenter);
    layout->addWidget(icon);
    // The stored copy's name is a hash: the item's title names it for people.
    auto* name = new QLabel(name_, box);
    name->setAlignment(Qt::AlignCenter);
    name->setWordWrap(true);
    layout->addWidget(name);
    if (!note.isEmpty()) {
        auto* message = new QLabel(note, box);
        message->setObjectName(QStringLiteral("note"));
        message->setAlignment(Qt::AlignCenter);
        layout->addWidget(message);
    }
    if (isRegularReadable(path)) {
        auto* open = new QPushButton(tr("Open in Default Application"), box);
        const QUrl url = QUrl::fromLocalFile(path);
        connect(open, &QPushButton::clicked, this, [this, url] { desktop_->open(url); });
        layout->addWidget(open, 0, Qt::AlignHCenter);
    }
    layout->addStretch(1);
    return box;
}

void PreviewPanel::keyPressEvent(QKeyEvent* event) {
    if (keyHook && keyHook(*event)) {
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    // What the hook leaves (page keys, arrows without a hook) scrolls the view; a key the view
    // ignores comes back up to the panel, which then lets it go.
    if (view_ && !forwarding_) {
        forwarding_ = true;
        QKeyEvent copy(event->type(), event->key(), event->modifiers(), event->text(),
                       event->isAutoRepeat(), static_cast<ushort>(event->count()));
        QWidget* target = view_;
        if (auto* area = view_->findChild<QAbstractScrollArea*>();
            area && !qobject_cast<QAbstractScrollArea*>(view_)) {
            target = area;
        }
        QCoreApplication::sendEvent(target, &copy);
        forwarding_ = false;
        event->setAccepted(copy.isAccepted());
        return;
    }
    QWidget::keyPressEvent(event);
}

bool PreviewPanel::eventFilter(QObject* watched, QEvent* event) {
    if (watched == view_ && !forwarding_ && event->type() == QEvent::KeyPress && keyHook &&
        keyHook(*static_cast<QKeyEvent*>(event))) {
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void PreviewPanel::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    if (event->isAccepted() && onClosed) {
        onClosed();
    }
}

} // namespace ostrel
