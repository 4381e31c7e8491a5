# Test prefix: trust the test PKI's root CA (made by the build, cmake/test-pki.cmake) in the
# current user's Root store of this prefix only. A root added earlier that the build no longer
# uses is removed first. Never run against the host: Wine reads the host's certificates itself.
set -euo pipefail
der=$ORVANTI_BUILD_DIR/prefix-inputs/test-root.der
mark=$WINEPREFIX/.orvanti-test-root
store='HKCU\Software\Microsoft\SystemCertificates\Root\Certificates'

thumbprint=
[ -f "$der" ] && thumbprint=$(sha1sum "$der" | cut -c1-40 | tr a-f A-F)
old=$(cat "$mark" 2>/dev/null || true)
if [ -n "$old" ] && [ "$old" != "$thumbprint" ]; then
  wine reg delete "$store\\$old" /f || true
fi
rm -f "$mark"
[ -n "$thumbprint" ] || exit 0

# The store's Blob value: property 0x20 (the encoded certificate), reserved 1, the DER length,
# each a little-endian 32-bit number, then the DER bytes.
le32() { printf '%02x%02x%02x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)); }
blob=$(le32 32)$(le32 1)$(le32 "$(stat -c %s "$der")")$(od -An -v -tx1 "$der" | tr -d ' \n')
wine reg add "$store\\$thumbprint" /v Blob /t REG_BINARY /d "$blob" /f
echo "$thumbprint" >"$mark"
