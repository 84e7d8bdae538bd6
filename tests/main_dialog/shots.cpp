// Screenshots of the main dialog, one per tab (run by hand under Xvfb, for
// example `xvfb-run -s "-screen 0 1280x1024x24" varnex_shots OUT_DIR`). Also
// lists any two visible widgets of a tab that overlap, so a look at the
// picture is not the only check.
//
// With a second argument, a project folder, the Labeling tab is shot with that
// folder open and the ground-truth file named by the third argument loaded.

#include "dialog_varnex.h"
#include "ui_dialog_varnex.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTextEdit>

#include <cstdio>

namespace {

void settle(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
}

bool isLeaf(QWidget* w)
{
    return qobject_cast<QPushButton*>(w) || qobject_cast<QLabel*>(w) || qobject_cast<QLineEdit*>(w) ||
           qobject_cast<QAbstractSpinBox*>(w) || qobject_cast<QComboBox*>(w) || qobject_cast<QCheckBox*>(w) ||
           qobject_cast<QSlider*>(w) || qobject_cast<QProgressBar*>(w) || qobject_cast<QTextEdit*>(w);
}

// Visible named leaf widgets of `page`, in page coordinates; prints overlaps.
int reportOverlaps(QWidget* page, const char* name)
{
    QList<QWidget*> leaves;
    for (QWidget* w : page->findChildren<QWidget*>()) {
        if (w->objectName().isEmpty() || w->objectName().startsWith("qt_") || !w->isVisibleTo(page) || !isLeaf(w))
            continue;
        // Skip the inner parts of composite widgets (a spin box's line edit).
        if (qobject_cast<QAbstractSpinBox*>(w->parentWidget()) || qobject_cast<QComboBox*>(w->parentWidget()))
            continue;
        leaves << w;
    }
    int overlaps = 0;
    for (int i = 0; i < leaves.size(); ++i) {
        const QRect a(leaves[i]->mapTo(page, QPoint(0, 0)), leaves[i]->size());
        if (a.width() <= 0 || a.height() <= 0)
            std::printf("%s: %s has no size\n", name, qPrintable(leaves[i]->objectName()));
        for (int j = i + 1; j < leaves.size(); ++j) {
            const QRect b(leaves[j]->mapTo(page, QPoint(0, 0)), leaves[j]->size());
            if (a.intersects(b)) {
                ++overlaps;
                std::printf("%s: %s overlaps %s\n", name, qPrintable(leaves[i]->objectName()),
                            qPrintable(leaves[j]->objectName()));
            }
        }
    }
    std::printf("%s: %d visible widgets, %d overlaps\n", name, int(leaves.size()), overlaps);
    return overlaps;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: varnex_shots OUT_DIR [PROJECT_DIR GT_FILE]\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    auto d = new DialogVarnex(nullptr);
    d->show();
    settle(300);

    if (argc >= 4) {
        QJsonObject state;
        state["prj_path"] = QString::fromLocal8Bit(argv[2]);
        state["gt_path"] = QString::fromLocal8Bit(argv[3]);
        state["cmb_model"] = "V4-tiny";
        state["batch_size"] = 64;
        state["sub_division"] = 8;
        state["grb_auto_gen"] = true;
        state["auto_rect_w"] = 10;
        state["auto_rect_h"] = 10;
        state["dlg_lb_setting"] = QJsonObject{{"rect_thickness", 2}, {"line_thickness", 2},
                                              {"crosshair_thickness", 1}, {"font_scale", 1.0},
                                              {"font_thickness", 1}, {"font_offset", 5}};
        d->restoreState(state);
        // A polygon being clicked, the second object selected, the pointer
        // inside the image.
        const int w = d->cur_image.cols;
        const int h = d->cur_image.rows;
        d->clicked_points = {cv::Point(w / 10, h * 6 / 10), cv::Point(w * 3 / 10, h * 55 / 100),
                             cv::Point(w * 35 / 100, h * 8 / 10), cv::Point(w / 8, h * 9 / 10)};
        d->labeling.active_object = 1;
        d->mouse_x = w * 6 / 10;
        d->mouse_y = h / 2;
        d->ui->tabWidget->setCurrentIndex(0);
        settle(800);
        d->grab().save(out + "/labeling_project.png");
        std::printf("saved %s/labeling_project.png\n", qPrintable(out));
        return 0;
    }

    int overlaps = 0;
    const char* names[] = {"labeling", "training"};
    for (int tab = 0; tab < 2; ++tab) {
        d->ui->tabWidget->setCurrentIndex(tab);
        settle(300);
        overlaps += reportOverlaps(d->ui->tabWidget->widget(tab), names[tab]);
        const QString file = out + "/main_dialog_" + names[tab] + ".png";
        d->grab().save(file);
        std::printf("saved %s\n", qPrintable(file));
    }
    return overlaps == 0 ? 0 : 1;
}
