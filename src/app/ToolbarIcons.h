// The pictures of the toolbar's buttons and of the zoom strip, drawn in code
// with antialiased paths, so they are sharp at every size and device pixel
// ratio. One style for all: coloured fills shading down, a darker outline of
// the same hue and a light inner edge, which together read on light skins
// (the outline) and dark ones (the fill and the edge) alike.
#pragma once

#include <QIcon>

namespace velmora {

enum class ToolbarIcon { Open, Effects, Preview, Save, Print, Templates, ActualSize, FitToWindow };

inline constexpr ToolbarIcon kToolbarIcons[] = {
    ToolbarIcon::Open,  ToolbarIcon::Effects,   ToolbarIcon::Preview,    ToolbarIcon::Save,
    ToolbarIcon::Print, ToolbarIcon::Templates, ToolbarIcon::ActualSize, ToolbarIcon::FitToWindow};

// An icon that paints itself at whatever square size and device pixel ratio
// it is asked for (a non-square request gets the largest square inside it).
// The disabled mode is a faded grey of the same picture.
QIcon MakeToolbarIcon(ToolbarIcon icon);

}  // namespace velmora
