#!/bin/sh
# Writes the registry values of the drive-number and class-index tests into the Wine prefix:
# drive R: is the second CD-ROM class device. Usage: registry_setup.sh <wine-run command>
set -e
run="$1"
# "\??\IDE#CdRomTVX#5&1&0&0.0.0#{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}" as UTF-16LE bytes.
text='\??\IDE#CdRomTVX#5&1&0&0.0.0#{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}'
hex=$(printf '%s' "$text" | iconv -f UTF-8 -t UTF-16LE | od -An -tx1 | tr -d ' \n')
mounted='HKLM\System\MountedDevices'
enum='HKLM\System\CurrentControlSet\Services\CdRom\Enum'
"$run" reg add "$mounted" /v '\DosDevices\R:' /t REG_BINARY /d "$hex" /f >/dev/null
"$run" reg add "$enum" /v Count /t REG_DWORD /d 2 /f >/dev/null
"$run" reg add "$enum" /v 0 /t REG_SZ /d 'SCSI\CdRomOther\1' /f >/dev/null
"$run" reg add "$enum" /v 1 /t REG_SZ /d 'IDE\CdRomTVX\5&1&0&0.0.0' /f >/dev/null
