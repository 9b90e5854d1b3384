#include "Ostrel/Model/MenuCountStyle.h"

#include <QApplication>
#include <QPaintEngine>
#include <QPainter>
#include <QPointer>
#include <QStyleFactory>
#include <QStyleOptionMenuItem>
#include <QWidget>

#include <optional>

namespace ostrel {

namespace {

// A paint device that draws nothing and notes where the text goes: the style alone knows where it
// puts an entry's title, and says so only by drawing it.
class TextProbe final : public QPaintDevice {
public:
    struct Text {
        double right = 0;
        double baseline = 0;
        QColor colour;
    };

    explicit TextProbe(const QWidget* widget) : widget_(widget) {}

    QPaintEngine* paintEngine() const override { return &engine_; }
    // The title's run of text, as the style drew it.
    const std::optional<Text>& text() const { return engine_.text; }

protected:
    int metric(PaintDeviceMetric metric) const override {
        // The widget's measures, so that fonts come out at the sizes the menu draws them at.
        switch (metric) {
        case PdmWidth:
            return widget_->width();
        case PdmHeight:
            return widget_->height();
        case PdmWidthMM:
            return widget_->widthMM();
        case PdmHeightMM:
            return widget_->heightMM();
        case PdmNumColors:
            return widget_->colorCount();
        case PdmDepth:
            return widget_->depth();
        case PdmDpiX:
            return widget_->logicalDpiX();
        case PdmDpiY:
            return widget_->logicalDpiY();
        case PdmPhysicalDpiX:
            return widget_->physicalDpiX();
        case PdmPhysicalDpiY:
            return widget_->physicalDpiY();
        // Positions are wanted in the widget's logical pixels, as the painter it paints with
        // takes them.
        case PdmDevicePixelRatio:
            return 1;
        case PdmDevicePixelRatioScaled:
            return int(devicePixelRatioFScale());
        }
        return 0;
    }

private:
    class Engine final : public QPaintEngine {
    public:
        Engine() : QPaintEngine(AllFeatures) {}
        bool begin(QPaintDevice*) override { return true; }
        bool end() override { return true; }
        Type type() const override { return User; }
        void updateState(const QPaintEngineState& state) override {
            if (state.state() & DirtyPen) {
                pen_ = state.pen();
            }
            if (state.state() & DirtyTransform) {
                transform_ = state.transform();
            }
        }
        void drawPath(const QPainterPath&) override {}
        void drawPolygon(const QPointF*, int, PolygonDrawMode) override {}
        void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
        void drawTextItem(const QPointF& at, const QTextItem& item) override {
            // Runs of one line continue one another; the title ends where the last one does.
            const QPointF end = transform_.map(at + QPointF(item.width(), 0));
            if (!text) {
                text = Text{end.x(), end.y(), pen_.color()};
            } else if (end.x() > text->right) {
                text->right = end.x();
            }
        }

        std::optional<Text> text;

    private:
        QPen pen_;
        QTransform transform_;
    };

    const QWidget* widget_;
    mutable Engine engine_;
};

} // namespace

MenuCountStyle* MenuCountStyle::instance() {
    static QPointer<MenuCountStyle> style;
    if (style == nullptr) {
        // Over a style of the application's own kind, which the proxy owns.
        style = new MenuCountStyle(QStyleFactory::create(QApplication::style()->name()));
        style->setParent(qApp);
    }
    return style;
}

void MenuCountStyle::drawControl(ControlElement element, const QStyleOption* option,
                                 QPainter* painter, const QWidget* widget) const {
    const auto* entry = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
    const qsizetype tab = entry != nullptr ? entry->text.indexOf(u'\t') : -1;
    if (element != CE_MenuItem || tab < 0 || widget == nullptr) {
        QProxyStyle::drawControl(element, option, painter, widget);
        return;
    }
    QStyleOptionMenuItem title = *entry;
    const QString count = title.text.mid(tab + 1);
    title.text.truncate(tab);
    TextProbe probe(widget);
    {
        QPainter measure(&probe);
        measure.setFont(painter->font());
        QProxyStyle::drawControl(element, &title, &measure, widget);
    }
    QProxyStyle::drawControl(element, &title, painter, widget);
    const auto& text = probe.text();
    if (!text) {
        return;
    }
    painter->save();
    QFont font = title.font;
    font.setWeight(QFont::Normal);
    painter->setFont(font);
    QColor colour = text->colour;
    colour.setAlphaF(colour.alphaF() * countAlpha);
    painter->setPen(colour);
    const double gap = QFontMetricsF(font).horizontalAdvance(QStringLiteral("  "));
    painter->drawText(QPointF(text->right + gap, text->baseline), count);
    painter->restore();
}

} // namespace ostrel
