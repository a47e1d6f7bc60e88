// File associations, program identifiers and new-archive templates.
#pragma once

#include <cstddef>

#include "uninstall/integration/integration_options.h"

struct AssociationRow {
    const wchar_t* Extensions;  // e.g. ".bz2.tbz2.bz.tbz"
    const wchar_t* Primary;     // first extension, names Setup\<primary>
    int CheckBoxId;             // SETUPDLG check box
};
constexpr int kAssociationRows = 18;
extern const AssociationRow AssociationTable[kAssociationRows];

// Buffer for one extension of a list, terminator included.
constexpr size_t kExtensionChars = 50;

// Splits an extension list: the extension at *position into ext (capacity in
// characters); advances *position; false when the list is done.
bool NextExtension(const wchar_t*& position, wchar_t* ext, size_t capacity);

void ApplyAssociations(const IntegrationOptions& options);
void AssociateExtension(const wchar_t* ext, bool associate, bool newEntryWanted, bool isZvx, bool isZip);
bool IsOwnAssociation(const wchar_t* ext);
// False when the first write was denied (the apply sequence then stops).
bool RegisterProgIds();
