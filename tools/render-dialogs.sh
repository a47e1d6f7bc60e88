#!/bin/sh
# Renders the three dialogs of setup mode to PNG files, for people to look at:
# English at 96 and 144 DPI, a German translation that enlarges the dialogs
# with SIZE, and a right-to-left (Hebrew) translation.
# Usage: tools/render-dialogs.sh [BUILD_DIR]   (default: build)
# Output: BUILD_DIR/dialog-renders/*.png. Needs a build (cmake --build BUILD_DIR).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
tool="$build/tests/render_dialogs.exe"
[ -f "$tool" ] || { echo "no $tool: build first" >&2; exit 1; }
out="$build/dialog-renders"
rm -rf "$out"
mkdir -p "$out"
work=$(mktemp -d /tmp/zvx-render.XXXXXX)
. "$root/tools/wine-env.sh"
zvx_wine_use "$work"
wine=$zvx_wine
cleanup() {
    zvx_wine_end
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

zvx_xvfb_start
zvx_prefix_make

# Language files are UTF-16LE with a byte-order mark, as translators ship them.
language() {
    { printf '\357\273\277'; cat; } | iconv -f UTF-8 -t UTF-16LE > "$1"
}
language "$work/german.lng" <<'LNG'
***messages***
:STRINGS
IDS_INSTHELP1 "Die erste Gruppe wählt die Archivtypen, die Zorvex öffnet."
IDS_INSTHELP2 "Die zweite Gruppe legt Verknüpfungen auf dem Desktop, im Startmenü und in einer Programmgruppe an."
IDS_INSTHELP3 "Die dritte Gruppe fügt Zorvex-Befehle in das Kontextmenü des Explorers ein."
IDS_INSTHELP4 "„Kontextmenü verschachteln“ legt sie in ein Untermenü, „Symbole im Kontextmenü“ zeigt neben jedem ein Symbol."
IDS_INSTHELP5 "„Kontextmenüeinträge...“ wählt die angezeigten Befehle."
IDS_INSTHELP6 "Wenn Sie unsicher sind, lassen Sie die Einstellungen, wie sie sind."
:DIALOG SETUPDLG
CAPTION "Zorvex-Einrichtung"
SIZE 112*104
IDC_ASSOCWITH "Zorvex verknüpfen mit"
IDC_ASSOCALL "&Alle umschalten"
IDC_INTEGRATIONINTERFACE "Oberfläche"
IDC_LINKDESKTOP "Zorvex auf dem &Desktop"
IDC_LINKSTARTMENU "Zorvex im &Startmenü"
IDC_LINKPROGRAMS "Zorvex-&Programmgruppe anlegen"
IDC_SHELLINTEGRATION "Einbindung in Windows"
IDC_SHELLEXT "Zorvex in den &Explorer einbinden"
IDC_SHELLCASCADED "Kontextmenü &verschachteln"
IDC_SHELLICONS "S&ymbole im Kontextmenü"
IDC_SHELLLEGACYMENU "&Klassisches Kontextmenü auch"
IDC_SETCONTEXTMENU "Kontext&menüeinträge..."
IDOK "OK"
IDHELP "Hilfe"
:DIALOG SETUPCONTEXTITEMS
CAPTION "Kontextmenüeinträge"
SIZE 115*100
IDC_CONTEXTMENUITEMS "Einträge des Kontextmenüs"
IDC_CONTEXTEXTRACTTO "Dateien entpacken..."
IDC_CONTEXTEXTRACTHERE "Hier entpacken"
IDC_CONTEXTEXTRACT "Entpacken nach <Archivname>\\"
IDC_CONTEXTEXTRACTSEPARATE "Jedes Archiv in eigenen Ordner"
IDC_CONTEXTOPENSFX "Selbstentpackendes Archiv öffnen"
IDC_CONTEXTOPENARC "Als Archiv öffnen"
IDC_CONTEXTADD "Zum Archiv hinzufügen..."
IDC_CONTEXTADDARC "Zu <Archivname>.zvx hinzufügen"
IDC_CONTEXTEMAILARC "Komprimieren und per E-Mail..."
IDC_CONTEXTEMAILARCOPT "In <Name>.zvx und per E-Mail"
IDC_CONTEXTTEST "Archiv testen"
IDC_CONTEXTCONVERT "Archiv umwandeln..."
IDC_CONTEXTNEWMENU "Neu"
IDC_CONTEXTNEWZVX "Zorvex-Archiv"
IDC_CONTEXTNEWZIP "ZIP-Archiv"
IDC_CONTEXTDROPMENU "Ziehen und Ablegen"
IDC_CONTEXTDRAGADD "Zum Archiv"
IDC_CONTEXTDRAGEXTRACT "Archiv entpacken"
IDC_CONTEXTSFXARCHIVES "Selbstentpackende Archive"
IDC_CONTEXTSFXLOCAL "Auf lokalen Laufwerken"
IDC_CONTEXTSFXNETWORK "Auf Netzlaufwerken"
IDC_CONTEXTSFXOTHER "Auf anderen Laufwerken"
IDC_CONTEXTALWAYSARCTITLE "Archivbefehle immer anzeigen für Dateien mit diesen Masken (durch Semikolons getrennt, zum Beispiel *.iso;*.img):"
IDCANCEL "Abbrechen"
IDHELP "Hilfe"
:DIALOG DONEDLG
CAPTION "Zorvex-Einrichtung"
SIZE 110*100
IDC_THANKS "Zorvex wurde erfolgreich eingerichtet."
IDC_INSTINFOFOLDER "Zorvex ist installiert im Ordner"
IDC_INSTINFOOPTIONS "Archivtypen, Verknüpfungen und Kontextmenü können Sie später in den Einstellungen von Zorvex ändern."
IDC_INSTINFOHELP "Die Hilfe erklärt die Bedienung. Bitte lesen Sie die Lizenz; Neuigkeiten finden Sie auf der Homepage."
IDC_VIEWHELP "&Hilfe"
IDC_VIEWLICENSE "&Lizenz"
IDC_HOMEPAGE "&Homepage"
IDOK "Fertig"
LNG
language "$work/hebrew.lng" <<'LNG'
***messages***
:DIRECTION RTL
:DIALOG SETUPDLG
CAPTION "התקנת Zorvex"
SIZE 105*100
IDC_ASSOCWITH "שייך את Zorvex עם"
IDC_ASSOCALL "החלף הכול"
IDC_INTEGRATIONINTERFACE "ממשק"
IDC_LINKDESKTOP "הוסף את Zorvex לשולחן העבודה"
IDC_LINKSTARTMENU "הוסף את Zorvex לתפריט התחל"
IDC_LINKPROGRAMS "צור קבוצת תוכניות"
IDC_SHELLINTEGRATION "שילוב במעטפת"
IDC_SHELLEXT "שלב את Zorvex במעטפת"
IDC_SHELLCASCADED "תפריט הקשר מדורג"
IDC_SHELLICONS "סמלים בתפריט ההקשר"
IDC_SHELLLEGACYMENU "גם תפריט הקשר קלאסי"
IDC_SETCONTEXTMENU "פריטי תפריט ההקשר..."
IDOK "אישור"
IDHELP "עזרה"
:DIALOG SETUPCONTEXTITEMS
CAPTION "פריטי תפריט ההקשר"
IDOK "אישור"
IDCANCEL "ביטול"
IDHELP "עזרה"
:DIALOG DONEDLG
CAPTION "התקנת Zorvex"
IDC_THANKS "ההתקנה של Zorvex הושלמה בהצלחה."
IDC_INSTINFOFOLDER "Zorvex מותקן בתיקייה"
IDOK "סיום"
LNG

render() {  # prefix [language file]
    if [ $# -gt 1 ]; then
        $wine explorer /desktop=render,1280x1024 "$tool" "$(winepath_of "$out")" "$1" "$(winepath_of "$2")"
    else
        $wine explorer /desktop=render,1280x1024 "$tool" "$(winepath_of "$out")" "$1"
    fi
    zvx_wine_wait
}
winepath_of() {  # Wine maps the Unix root to drive Z
    printf 'Z:%s' "$1" | tr / '\\'
}

render en-96dpi
render de-96dpi "$work/german.lng"
render he-96dpi "$work/hebrew.lng"
# Wine takes the screen resolution from LogPixels at process start.
$wine reg add "HKCU\\Control Panel\\Desktop" /v LogPixels /t REG_DWORD /d 144 /f >/dev/null 2>&1
zvx_wine_wait
render en-144dpi

convert=/usr/bin/convert
[ -x "$convert" ] || convert=convert
for bmp in "$out"/*.bmp; do
    "$convert" "$bmp" "${bmp%.bmp}.png"
    rm -f "$bmp"
done
ls -1 "$out"
