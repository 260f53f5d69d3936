// PropertiesPane: the docking pane "Properties" with the visibility combo and the feature grid.
#pragma once

#include "PropertiesWnd.h"
#include "PropertyGridView.h"

#include <QComboBox>
#include <QDockWidget>
#include <QTimer>
#include <QTreeView>

#include <atomic>
#include <functional>

namespace qorcam::viewer {

/// The window of the feature grid pane: forwards the combo, the tree's
/// edits, selection and expansion to CPropertiesWnd, runs its two timers,
/// and shows what it built. Timer and value calls are safe from the
/// refresh worker (they are carried to the UI thread).
class PropertiesPane : public QDockWidget {
    Q_OBJECT
public:
    PropertiesPane(IViewerHost& host, QWidget* parent);
    ~PropertiesPane() override;

    CPropertiesWnd& Logic() { return logic_; }
    QTreeView* View() { return view_; }
    QComboBox* Combo() { return combo_; }

    /// CPropertiesWnd::RebuildPropertyList, then the view follows.
    void RebuildPropertyList();
    /// WM_PROPERTY_REFRESH: what the main frame does with it.
    std::function<void()> onPropertyRefresh;

    // For the host.
    void SetTimer(unsigned id, unsigned ms);
    void KillTimer(unsigned id);
    bool IsShown() const { return shown_; }
    void ShowLevel(uint32_t level);
    void SendGridValue(uint64_t itemId, const GridValue& value);
    void PostPropertyRefresh();
    /// Ends a running refresh cycle before the frame goes away.
    void StopRefresh();

private:
    void SyncView();
    void SyncExpansion(const QModelIndex& parent);

    CPropertiesWnd logic_;
    QComboBox* combo_;
    QTreeView* view_;
    PropertyGridModel* model_;
    QTimer timer1_, timer10_;
    std::atomic<bool> shown_{false};
    bool syncing_ = false;
};

} // namespace qorcam::viewer
