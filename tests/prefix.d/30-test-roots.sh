# Test prefix: trust the build's test roots (every certificate in prefix-inputs/*.der: the code
# signing root of cmake/test-pki.cmake and the TLS test CA of cmake/tls-test-ca.cmake) in the
# current user's Root store of this prefix only. Roots added earlier that the build no longer
# has are removed first. Never run against the host: Wine reads the host's certificates itself.
set -euo pipefail
mark=$WINEPREFIX/.orvanti-test-roots
store='HKCU\Software\Microsoft\SystemCertificates\Root\Certificates'

thumbprints=()
for der in "$ORVANTI_BUILD_DIR"/prefix-inputs/*.der; do
  [ -f "$der" ] && thumbprints+=("$(sha1sum "$der" | cut -c1-40 | tr a-f A-F)")
done

# What earlier runs added (including the marks of the former one-root hooks).
for old in $(cat "$mark" "$WINEPREFIX/.orvanti-test-root" "$WINEPREFIX/.orvanti-tls-test-ca" \
               2>/dev/null || true); do
  case " ${thumbprints[*]} " in
    *" $old "*) ;;
    *) wine reg delete "$store\\$old" /f || true ;;
  esac
done
rm -f "$mark" "$WINEPREFIX/.orvanti-test-root" "$WINEPREFIX/.orvanti-tls-test-ca"

# The store's Blob value: property 0x20 (the encoded certificate), reserved 1, the DER length,
# each a little-endian 32-bit number, then the DER bytes.
le32() { printf '%02x%02x%02x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)); }
for der in "$ORVANTI_BUILD_DIR"/prefix-inputs/*.der; do
  [ -f "$der" ] || continue
  thumbprint=$(sha1sum "$der" | cut -c1-40 | tr a-f A-F)
  blob=$(le32 32)$(le32 1)$(le32 "$(stat -c %s "$der")")$(od -An -v -tx1 "$der" | tr -d ' \n')
  wine reg add "$store\\$thumbprint" /v Blob /t REG_BINARY /d "$blob" /f
  echo "$thumbprint" >>"$mark"
done
