#pragma once

#include <QWidget>

class QVBoxLayout;

namespace ostrel {

class ToneLabel;

// A row's title over its detail. The detail wraps onto as many lines as it needs; without one
// the title stands alone.
class RowLabel : public QWidget {
public:
    explicit RowLabel(const QString& title, QWidget* parent = nullptr);

    ToneLabel* title() const { return title_; }
    // A plain detail text in the secondary tone; empty text hides it.
    void setDetail(const QString& text);
    QString detailText() const;
    // A detail made of other widgets (a status dot and a path); replaces any detail text.
    void setDetailWidget(QWidget* widget);

private:
    QVBoxLayout* layout_;
    ToneLabel* title_;
    ToneLabel* detail_;
};

} // namespace ostrel
