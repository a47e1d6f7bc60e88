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
// What AssociateExtension does with one extension.
enum AssociateFlags : unsigned {
    // Give it back to its former owner, when it is the product's.
    kReleaseExtension = 0,
    // Bind it to the product.
    kBindExtension = 1u << 0,
    // The product's new-file entry is wanted (it exists for the two rows below only).
    kWantNewFileEntry = 1u << 1,
    // The row of the product's own format: its new-file entry and the volumes .r00 upward.
    kZvxRow = 1u << 2,
    // The ZIP row: its own program identifier and new-file entry.
    kZipRow = 1u << 3,
};
void AssociateExtension(const wchar_t* ext, unsigned flags);
bool IsOwnAssociation(const wchar_t* ext);
// False when the first write was denied (the apply sequence then stops).
bool RegisterProgIds();
