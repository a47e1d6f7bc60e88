// What setup makes of the user's saved choices, beside RemoveIntegration, which
// takes it all away again.
#pragma once

#include <cstddef>

#include "uninstall/integration/integration_options.h"

// App Paths, shell extension, associations, program identifiers, shortcuts;
// false when a denied write stopped it early. groupPathOut (may be null)
// receives the program group's path.
bool ApplyIntegration(const IntegrationOptions& options, wchar_t* groupPathOut, size_t groupPathCapacity);
// Everything setup's OK does after saving the choices: the sequence above, with
// the group's path into ProgramGroupFolder; the removal notice's RemShown flag
// cleared; the uninstall entry unless msi was given; and .ace, which no row of
// the dialog holds, given back when an old version bound it. Failures are not the
// user's to act on here: every step runs.
void ApplySetupChoices(const IntegrationOptions& options);
