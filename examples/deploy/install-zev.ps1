# Installs Zev silently from this folder, which holds Qix_Console_Installer.exe
# and ZevSetup.exe. Usage: .\install-zev.ps1 [-Directory <directory>]
# Ends with 0 when Zev is installed, 1 when not. The program's messages and the
# setup's log go to $env:ProgramData\Zev-install.log, which outlasts the
# package folder (a distribution system's cache, often read-only or cleaned
# up) and which an administrator or SYSTEM, who installs Zev, can write.
# Written for Windows PowerShell 5.1 and PowerShell 7 alike.
param([string]$Directory = 'C:\Apps\Zev')

$program = Join-Path $PSScriptRoot 'Qix_Console_Installer.exe'
$setup = Join-Path $PSScriptRoot 'ZevSetup.exe'
$log = Join-Path $env:ProgramData 'Zev-install.log'

# 5.1 turns every line of a redirected standard error into an error record,
# and under 'Stop' the first one would end the script before the exit code is
# read. 7.4 and later could turn the exit code itself into an error.
$ErrorActionPreference = 'Continue'
$PSNativeCommandUseErrorActionPreference = $false

# A log that cannot be written stops the script before anything is installed.
try {
    [IO.File]::WriteAllText($log, '')
} catch {
    Write-Output "Zev was not installed: cannot write $log"
    exit 1
}

# A program that cannot be started sets no exit code: an earlier command's 0
# must not count for it.
$global:LASTEXITCODE = $null
# The error records made plain text again; "2> file" would write them in 5.1
# with PowerShell's error decoration, in UTF-16.
$lines = @(& $program $setup /L=g /DS=0 "/D=$Directory" 2>&1 | ForEach-Object { "$_" })
$code = $LASTEXITCODE
[IO.File]::WriteAllLines($log, [string[]]$lines)

if ($code -ne 0) {
    Write-Output "Zev was not installed (exit code ${code}):"
    $lines
    exit 1
}
Write-Output "Zev installed in $Directory"
exit 0
