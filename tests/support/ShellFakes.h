#pragma once

#include "Ostrel/Model/DragOut.h"
#include "Ostrel/Model/MenuRunner.h"
#include "Ostrel/Model/PreviewController.h"
#include "Ostrel/Model/TipCenter.h"

#include <QList>
#include <QString>
#include <QUrl>

namespace ostrel::test {

// A preview panel that only remembers what it shows.
class FakePreview final : public PreviewController {
public:
    void show(const QUrl& url, const QString& title, QScreen*, SourceFrame,
              const QImage&) override {
        shown.append({url, title});
        visible = true;
    }
    void close() override {
        if (visible) {
            ++closes;
        }
        visible = false;
    }
    bool isVisible() const override { return visible; }

    struct Shown {
        QUrl url;
        QString title;
    };
    QList<Shown> shown;
    bool visible = false;
    int closes = 0;
};

class FakeTips final : public TipCenter {
public:
    void refreshAnchor() override { ++refreshes; }
    void reset() override { ++resets; }
    int refreshes = 0;
    int resets = 0;
};

// Starts a drag unless one runs; `end()` finishes it as the drag session would.
class FakeDragOut final : public DragOut {
public:
    bool begin(const ShelfItem& item, const QImage& icon) override {
        if (running || refuse) {
            return false;
        }
        running = true;
        started.append(item.id);
        lastIcon = icon;
        return true;
    }
    void end() {
        running = false;
        if (onEnd) {
            onEnd();
        }
    }
    bool running = false;
    bool refuse = false;
    QStringList started;
    QImage lastIcon;
};

// Shows nothing: records the menus it was asked to run and, when told, picks an entry by title.
class FakeMenuRunner final : public MenuRunner {
public:
    bool canShow(QWidget*) const override { return showable; }
    void run(const QList<MenuEntry>& entries, QWidget*) override {
        menus.append(entries);
        if (during) {
            during();
        }
        for (const MenuEntry& entry : entries) {
            if (entry.title == choose && entry.action) {
                entry.action();
            }
        }
    }
    bool showable = true;
    QString choose;
    std::function<void()> during;
    QList<QList<MenuEntry>> menus;
};

} // namespace ostrel::test
