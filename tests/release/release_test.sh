#!/usr/bin/env bash
# scripts/release as a user runs it: without a certificate, then with a
# throwaway self-signed one. The zip holds the program, README, the documents
# it links to, in which every relative link resolves, and checksums that
# match; packing twice gives the same zip; osslsigncode accepts the
# signature against that certificate only; the signed program runs under Wine
# as the unsigned one does; a wrong password fails the release.
# Usage: release_test.sh SOURCE_DIR VERSION
set -euo pipefail
source_dir=$1
. "$source_dir/scripts/lib.sh"
scratch=$(mktemp -d "${TMPDIR:-/tmp}/qix-release-test.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
name=Qix_Console_Installer-$2-win64

failures=0
check() { # description, then a condition for eval
  if eval "$2"; then echo "ok: $1"; else echo "FAIL: $1"; failures=$((failures + 1)); fi
}

# release FOLDER [NAME=VALUE...]: runs scripts/release into FOLDER and unpacks the zip there.
release() {
  local folder=$scratch/$1
  shift
  env -u QIX_SIGN_PFX -u QIX_SIGN_PASSWORD -u QIX_SIGN_TIMESTAMP_URL QIX_DIST="$folder" "$@" \
    "$source_dir/scripts/release" >"$scratch/release.log" 2>&1 || {
    cat "$scratch/release.log"
    return 1
  }
  unzip -q "$folder/$name.zip" -d "$folder/unpacked"
}

# run_help EXE OUT: the program's /? under Wine; OUT gets its exit code and
# output. Every stream goes to a file, so that no Wine service that this run
# may start holds on to the test's output.
run_help() {
  "$WINE" "$1" '/?' </dev/null >"$2.out" 2>"$2.err" && echo 0 >"$2.code" || echo $? >"$2.code"
}

release plain
unpacked=$scratch/plain/unpacked/$name
files=$(unzip -Z1 "$scratch/plain/$name.zip")
documents=$(cd "$unpacked" && find . -name '*.md' | sed 's|^\./||' | sort)
check "the zip holds one folder with the program, README and SHA256SUMS" \
  '[ -z "$(grep -v "^$name/" <<<"$files")" ] &&
   for file in Qix_Console_Installer.exe README.md SHA256SUMS; do
     grep -qx "$name/$file" <<<"$files" || exit 1
   done'
check "the unsigned program is the one built" \
  'cmp -s "$unpacked/Qix_Console_Installer.exe" "$(build_folder windows)/Qix_Console_Installer.exe"'
check "every other file is the project's own" \
  'for file in $files; do
     file=${file#$name/}
     case $file in Qix_Console_Installer.exe | SHA256SUMS) ;; *) cmp -s "$unpacked/$file" "$source_dir/$file" || exit 1 ;; esac
   done'
check "every relative link of the zip's documents resolves inside it" \
  'bash "$source_dir/tests/docs/check_links.sh" "$unpacked" $documents'
check "SHA256SUMS lists every other file and matches them" \
  '(cd "$unpacked" && sha256sum --strict -c SHA256SUMS >/dev/null) &&
   [ "$(cut -d " " -f 3 "$unpacked/SHA256SUMS")" = "$(grep -v "/SHA256SUMS$" <<<"$files" | sed "s|^$name/||")" ]'
release again
check "packing twice gives the same zip" 'cmp -s "$scratch/plain/$name.zip" "$scratch/again/$name.zip"'
# Zip keeps times in steps of two seconds, rounding up.
epoch=$(git -C "$source_dir" log -1 --format=%ct)
commit_time=$(TZ=UTC date -d "@$((epoch + epoch % 2))" +%Y%m%d.%H%M%S)
entries=$(TZ=UTC zipinfo -T "$scratch/plain/$name.zip" |
  awk '$1 ~ /^-/ && NF == 8 { print $1, $7 }' | sort -u)
check "every entry has the last commit's time, and mode 644 or, for the kit's checker, 755" \
  '[ "$entries" = "$(printf "%s\n" "-rw-r--r-- $commit_time" "-rwxr-xr-x $commit_time")" ] &&
   [ "$(TZ=UTC zipinfo "$scratch/plain/$name.zip" | awk "\$1 ~ /^-rwx/ { print \$NF }")" = \
     "$name/setup-kit/qix-check" ]'

# A throwaway certificate for code signing, its key and the PFX that carries both.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Qix throwaway signer" \
  -addext extendedKeyUsage=codeSigning -addext keyUsage=digitalSignature \
  -keyout "$scratch/key.pem" -out "$scratch/cert.pem" 2>/dev/null
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Someone else" \
  -keyout "$scratch/other_key.pem" -out "$scratch/other.pem" 2>/dev/null
password='throwaway pass; $HOME "quoted"'
openssl pkcs12 -export -inkey "$scratch/key.pem" -in "$scratch/cert.pem" \
  -out "$scratch/signer.pfx" -passout "pass:$password"

release signed QIX_SIGN_PFX="$scratch/signer.pfx" QIX_SIGN_PASSWORD="$password"
signed=$scratch/signed/unpacked/$name/Qix_Console_Installer.exe
check "SHA256SUMS matches the signed program" \
  '(cd "$scratch/signed/unpacked/$name" && sha256sum --strict -c SHA256SUMS >/dev/null)'
check "osslsigncode verifies the signature against the signer's certificate" \
  'osslsigncode verify -in "$signed" -CAfile "$scratch/cert.pem" >"$scratch/verify.log" 2>&1 ||
   { cat "$scratch/verify.log"; false; }'
check "osslsigncode rejects it against another certificate" \
  '! osslsigncode verify -in "$signed" -CAfile "$scratch/other.pem" >/dev/null 2>&1'
check "the unsigned release carries no signature" \
  '! osslsigncode verify -in "$scratch/plain/unpacked/$name/Qix_Console_Installer.exe" \
     -CAfile "$scratch/cert.pem" >/dev/null 2>&1'

run_help "$scratch/plain/unpacked/$name/Qix_Console_Installer.exe" "$scratch/unsigned_run"
run_help "$signed" "$scratch/signed_run"
check "the signed program prints the usage text and ends with 0 under Wine" \
  '[ "$(cat "$scratch/signed_run.code")" = 0 ] && grep -q "Usage: Qix_Console_Installer.exe" \
     "$scratch/signed_run.out"'
check "the signed and unsigned programs give the same streams and exit code" \
  'for part in code out err; do
     cmp -s "$scratch/unsigned_run.$part" "$scratch/signed_run.$part" || exit 1
   done'

check "a wrong password fails the release and leaves no zip" \
  '! release wrong QIX_SIGN_PFX="$scratch/signer.pfx" QIX_SIGN_PASSWORD=wrong >/dev/null &&
   [ ! -e "$scratch/wrong/$name.zip" ]'
[ $failures -eq 0 ]
