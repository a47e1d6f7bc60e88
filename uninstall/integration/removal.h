// Undoes every piece of shell integration; called by the uninstall run before any file is deleted.
#pragma once

void RemoveIntegration();
