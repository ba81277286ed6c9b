#pragma once

#include "model/stored_enum.h"

#include <array>

namespace fotivela {

// The editor's sidebar tabs; the stored value is also the tab's label and identifier.
enum class EditorTab { photos, music, aiMusic, export_, settings };

template <>
struct StoredEnum<EditorTab> {
    static constexpr std::array<std::pair<EditorTab, std::string_view>, 5> table{{
        {EditorTab::photos, "Fotos"},
        {EditorTab::music, "Musica"},
        {EditorTab::aiMusic, "Marcadores"},
        {EditorTab::export_, "Exportar"},
        {EditorTab::settings, "Ajustes"},
    }};
};

// The tabs the sidebar shows, in order; settings has a window of its own.
inline constexpr std::array<EditorTab, 4> sidebarTabs{EditorTab::photos, EditorTab::music, EditorTab::aiMusic,
                                                      EditorTab::export_};

} // namespace fotivela
