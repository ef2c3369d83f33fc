#!/usr/bin/env bash
# Checks a Windows binary built here: it may import only Windows system DLLs (the runtime is
# linked statically, so no libstdc++/libgcc/libwinpthread), and it must export every name given
# after the file, undecorated.
#   check_pe_imports.sh FILE [EXPORTED_NAME...]
set -u
file=$1; shift
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}
[ -f "$file" ] || { echo "missing: $file"; exit 1; }
dump=$("$objdump" -p "$file") || { echo "objdump failed on $file"; exit 1; }

system='^(kernel32|user32|gdi32|advapi32|ws2_32|wsock32|winhttp|ole32|oleaut32|version|winmm|msvcrt|ucrtbase|rpcrt4|shell32|shlwapi|bcrypt|crypt32|iphlpapi|ntdll|secur32|dnsapi|api-ms-win-[a-z0-9-]+)\.dll$'
status=0
imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump")
[ -n "$imports" ] || { echo "no import table found in $file"; exit 1; }
while read -r dll; do
  lower=$(tr 'A-Z' 'a-z' <<<"$dll")
  if [[ $lower =~ $system ]]; then
    echo "import ok: $dll"
  else
    echo "FORBIDDEN import: $dll"
    status=1
  fi
done <<<"$imports"

for name in "$@"; do
  if grep -Eq "^[[:space:]]*\[[[:space:]]*[0-9]+\] $name\$" <<<"$dump"; then
    echo "export ok: $name"
  else
    echo "MISSING export: $name"
    status=1
  fi
done
exit $status
