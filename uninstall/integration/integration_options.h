// The user's integration choices. A record with every flag false makes every
// apply operation remove what it would make.
#pragma once

constexpr int kAssociateFlags = 20;  // rows 0 to 17 used, 18 and 19 spare

struct IntegrationOptions {
    bool Associate[kAssociateFlags];
    bool DesktopLink;
    bool StartMenuLink;
    bool ProgramsLink;
    bool ShellExt;
    bool CascadedMenu;
    bool MenuIcons;
    bool LegacyMenu;
};
