#!/usr/bin/env bash
# Installs Zev with the Windows program under Wine, as one would by hand, and
# removes it again. Needs build/windows (cmake --build --preset windows); the
# lines after the cd, typed one by one, run from the project's folder.
cd "$(dirname "$0")/../.."

# A Wine prefix of its own: Zev installed in the tests' prefix would fail the
# next test run. Debian's wine64 keeps its loader and server in /usr/lib/wine.
export WINEPREFIX=$HOME/.wine-qix-by-hand WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="   # no offer to install Mono or Gecko into a new prefix
wine=/usr/lib/wine/wine64 wineserver=/usr/lib/wine/wineserver64

# No display: Wine's null driver, as scripts/lib.sh sets it (the first Wine
# command makes the prefix, which takes a while). A desktop process that
# started before the setting keeps its driver: -k ends it.
"$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f
"$wineserver" -k
"$wineserver" -p   # keeps the server up: each start then takes a fraction of a second

"$wine" build/windows/Qix_Console_Installer.exe /?
cp build/windows/ZevSetup.exe "$WINEPREFIX/drive_c/"
# Wine shows the prefix's drive_c as C:. On the Linux side an exit code is
# its low byte: -1 is 255, 1603 is 67.
"$wine" build/windows/Qix_Console_Installer.exe 'C:\ZevSetup.exe' /L=g '/D=C:\Apps\Zev' \
  /EXITCODES=msi '/LOG=C:\zev-install.log'
echo "exit code $?"   # 0; run again, the setup refuses (already installed): 67
cat "$WINEPREFIX/drive_c/zev-install.log"

# Zev's own uninstaller, run in place (_?=) so that it ends when Zev is gone;
# it leaves itself and its folder behind.
"$wine" 'C:\Apps\Zev\Uninstall.exe' /S '_?=C:\Apps\Zev'
echo "uninstall exit code $?"
"$wineserver" -k   # stops the server and Wine's services
# To remove everything, the prefix too: rm -rf ~/.wine-qix-by-hand
