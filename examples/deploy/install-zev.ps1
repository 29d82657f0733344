# Installs Zev silently from this folder, which holds Qix_Console_Installer.exe
# and ZevSetup.exe. Usage: .\install-zev.ps1 [-Directory <directory>]
# Ends with the program's exit code, as Windows Installer's: 0 installed,
# 3010 or 1641 installed and a restart needed, 1618 another installation
# running (try again later), 1639 or 1603 not installed; 1 when the program
# could not be started. The program appends its record of each run, the
# setup's log among it, to $env:ProgramData\Zev-install.log, which outlasts the
# package folder (a distribution system's cache, often read-only or cleaned
# up) and which an administrator or SYSTEM, who installs Zev, can write; when
# it cannot, the program installs nothing.
# Written for Windows PowerShell 5.1 and PowerShell 7 alike.
param([string]$Directory = 'C:\Apps\Zev')

$program = Join-Path $PSScriptRoot 'Qix_Console_Installer.exe'
$setup = Join-Path $PSScriptRoot 'ZevSetup.exe'
$log = Join-Path $env:ProgramData 'Zev-install.log'

# Where standard error is redirected (a host that captures it), 5.1 turns its
# lines into error records, and under 'Stop' the first one would end the
# script before the exit code is read. 7.4 and later could turn the exit code
# itself into an error.
$ErrorActionPreference = 'Continue'
$PSNativeCommandUseErrorActionPreference = $false

# A program that cannot be started sets no exit code: an earlier command's 0
# must not count for it.
$global:LASTEXITCODE = $null
& $program $setup /L=g /DS=0 /EXITCODES=msi "/LOG=$log" "/D=$Directory"
$code = $LASTEXITCODE

if ($null -eq $code) {
    Write-Output "Zev was not installed: $program could not be started"
    exit 1
}
if ($code -in 0, 3010, 1641) {
    Write-Output "Zev installed in $Directory (exit code $code)"
} else {
    Write-Output "Zev was not installed in $Directory (exit code $code), see $log"
}
exit $code
