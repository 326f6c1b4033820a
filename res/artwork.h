// The program's embedded artwork. Call InitArtworkResources once before the first lookup (the
// skin library does it in GetSkinUi); afterwards the strips are readable as ":/PNG/<id>" and
// ":/PNG/<id>@2x". UI thread only, like every Qt image and icon use.
#pragma once

#include <QIcon>

namespace tovarek {

// Registers the resources; harmless to call again.
void InitArtworkResources();

// Icon 128 (application), 129 (protection on) or 130 (protection off) with every size drawn;
// a null icon for any other id.
QIcon LoadResourceIcon(int id);

}  // namespace tovarek
