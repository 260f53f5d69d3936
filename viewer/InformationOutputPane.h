// InformationOutputPane: the docking pane "InformationOutput" with its "Camera", "Feature" and "Image" tabs.
#pragma once

#include "OutputWnd.h"

#include <QDockWidget>
#include <QListWidget>
#include <QTabWidget>

namespace qorcam::viewer {

class CQorViewerApp;

/// The window of the output lists: each Show call lets COutputWnd rewrite
/// its lines and shows them.
class InformationOutputPane : public QDockWidget {
    Q_OBJECT
public:
    InformationOutputPane(CQorViewerApp& app, QWidget* parent);

    COutputWnd& Logic() { return logic_; }
    QTabWidget* Tabs() { return tabs_; }
    QListWidget* List(COutputWnd::Tab tab) { return lists_[tab]; }

    void ShowCameraInfo();
    void ShowImageInfo();
    void ShowNodeInfo(genapi::INode* node);
    /// The lists take the application's regular font again (they follow it by themselves too).
    void UpdateFonts();

private:
    void Sync(COutputWnd::Tab tab);

    COutputWnd logic_;
    QTabWidget* tabs_;
    QListWidget* lists_[3];
};

} // namespace qorcam::viewer
