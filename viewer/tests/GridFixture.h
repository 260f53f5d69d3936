// GridFixture: the feature grid pane's logic over the fixture camera, with look-ups by item name.
#pragma once

#include "ViewerFixture.h"

#include "PropertiesWnd.h"

#include <string>
#include <vector>

namespace qorcam::viewer::testing {

struct GridFixture {
    FakeHost host;
    CPropertiesWnd pane{host};
    GridFixture() { pane.SetExpansionMap(&host.child.expansionStates); }

    /// The first item of that name, anywhere or below under.
    CPropertyGridProperty* Find(const std::string& name, CPropertyGridProperty* under = nullptr) {
        CPropertyGridProperty* found = nullptr;
        auto look = [&](CPropertyGridProperty* top) {
            top->ForEach([&](CPropertyGridProperty* p) {
                if (!found && p->GetName() == name) found = p;
            });
        };
        if (under) {
            look(under);
        } else {
            for (size_t i = 0; i < pane.Grid().GetPropertyCount(); ++i)
                look(pane.Grid().GetProperty(i));
        }
        return found;
    }
    std::vector<std::string> TopNames() {
        std::vector<std::string> names;
        for (size_t i = 0; i < pane.Grid().GetPropertyCount(); ++i)
            names.push_back(pane.Grid().GetProperty(i)->GetName());
        return names;
    }
    void SetInt(const char* name, int64_t v) { genapi::CIntegerPtr(host.map._GetNode(name))->SetValue(v); }
    /// What the user does: type a value into the item, then the grid reports it.
    bool Edit(const char* name, const GridValue& value) {
        CPropertyGridProperty* item = Find(name);
        if (!item) return false;
        item->SetValue(value);
        return pane.Grid().OnPropertyChanged(item);
    }
};

} // namespace qorcam::viewer::testing
