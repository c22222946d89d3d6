# Batch conversion: files, standard input and output, compressed input,
# awkward file names, every refusal with its message and exit status, and
# no temporary file left behind.
source "$ORV_TEST_LIB"

# Every run gets its own temporary folder, which must be empty afterwards.
export TMPDIR="$work/tmp"
mkdir -p "$TMPDIR"
check_tmp_empty() {
  local left
  left=$(ls -A "$TMPDIR")
  [ -z "$left" ] || fail "$1: temporary files left: $left"
  rm -rf "${TMPDIR:?}"/*
}

cd "$work"
/usr/bin/convert -size 40x30 gradient:yellow-navy -type TrueColor in.ppm
/usr/bin/convert in.ppm ras:in.ras

# --- files ------------------------------------------------------------------
run -out raster:out.ras in.ras
expect_status 0 "raster to raster"
expect_err "" "raster to raster"
check_tmp_empty "raster to raster"
[ "$(rasttopnm out.ras 2>/dev/null | md5sum)" == "$(rasttopnm in.ras 2>/dev/null | md5sum)" ] ||
  fail "the converted picture differs"
[ "$(od -An -tx1 -j20 -N4 out.ras | tr -d ' ')" == "00000002" ] || fail "raster output is run-length encoded"

run -out raster:out.ras in.ras
expect_status 1 "existing output without -f"
expect_err "Cannot overwrite file out.ras.
" "existing output without -f"
echo keep > kept.ras
run -out raster:kept.ras in.ras
[ "$(cat kept.ras)" == "keep" ] || fail "a refused output is left untouched"
run -f -out raster:kept.ras in.ras
expect_status 0 "-f overwrites"
[ "$(head -c 4 kept.ras | od -An -tx1 | tr -d ' ')" == "59a66a95" ] || fail "-f wrote a raster file"
check_tmp_empty "-f"

# --- standard input and output ------------------------------------------------------
env -u DISPLAY "$ORVIMAGE" -out raster:- - <in.ras >stdout.ras 2>err.txt
[ $? -eq 0 ] || fail "stdin to stdout: $(cat err.txt)"
cmp -s stdout.ras out.ras || fail "stdin to stdout gives the same file"
check_tmp_empty "stdin to stdout"

env -u DISPLAY "$ORVIMAGE" -out raster:- - </dev/null >stdout.ras 2>err.txt
[ $? -eq 1 ] || fail "empty standard input fails"
check_tmp_empty "failed stdin"

# --- compressed input ---------------------------------------------------------------
cp in.ras pic.ras && compress -f pic.ras
run -out raster:fromz.ras pic.ras.Z
expect_status 0 ".Z input"
cmp -s fromz.ras out.ras || fail ".Z input converts like the plain file"
check_tmp_empty ".Z input"

# --- names no shell may read -----------------------------------------------------------
for name in 'with space.ras' "it's.ras" 'a"b.ras' '$(touch pwned).ras' 'x;touch pwned2.ras' '-dash.ras'; do
  cp in.ras "./$name"
  rm -f out_named.ras
  run -out raster:out_named.ras "./$name"
  expect_status 0 "input named $name"
  cmp -s out_named.ras out.ras || fail "input named $name converts"
  rm -f "./$name.out"
  run -out "raster:./$name.out" in.ras
  expect_status 0 "output named $name"
  [ -f "./$name.out" ] || fail "output named $name written"
done
[ ! -e pwned ] && [ ! -e pwned2.ras ] && [ ! -e "$TMPDIR/pwned" ] || fail "a shell ran"
check_tmp_empty "awkward names"

# --- refusals -------------------------------------------------------------------------------
run -out raster:x.ras missing.ras
expect_status 1 "missing input"
expect_err "missing.ras does not exist.
" "missing input"

mkdir adir
run -out raster:x.ras adir
expect_status 1 "input folder"
expect_err "adir is a directory.
" "input folder"

run -out raster:x.ras /dev/null
expect_status 1 "not a regular file"
expect_err "/dev/null is not a regular file.
" "not a regular file"

: > empty.ras
run -out raster:x.ras empty.ras
expect_status 1 "empty input"
expect_err "empty.ras is an empty file.
" "empty input"

if command -v setpriv >/dev/null && [ "$(id -u)" -eq 0 ]; then
  cp in.ras secret.ras && chmod 600 secret.ras
  chmod 777 "$work" "$TMPDIR"
  setpriv --reuid=65534 --regid=65534 --clear-groups env -u DISPLAY "$ORVIMAGE" -out raster:"$TMPDIR/x.ras" secret.ras 2>err.txt
  [ $? -eq 1 ] || fail "unreadable input exits 1"
  [ "$(cat err.txt)" == "You do not have read permission for secret.ras." ] || fail "unreadable input: $(cat err.txt)"
fi

echo "just some words, not a picture" > words.txt
run -out raster:x.ras words.txt
expect_status 1 "text input"
expect_err "File not opened:  Unsupported format.
" "text input"

printf '%%!PS-Adobe-3.0\n%%%%EndComments\nshowpage\n' > doc.ps
run -out raster:x.ras doc.ps
expect_status 1 "PostScript input"
expect_err "Cannot convert Postcript or EPSF files.
" "PostScript input"

# An explicit type that fails is retried once with the detected format.
run -out raster:retry.ras gif:in.ras
expect_status 0 "explicit type retried"
expect_err "Error opening file as a gif.
" "explicit type retried"
cmp -s retry.ras out.ras || fail "the retry converts the picture"
run -out raster:x.ras -inType tiff words.txt
expect_status 1 "explicit type and no detected format"
expect_err "Error opening file as a tiff.
File not opened:  Unsupported format.
" "explicit type and no detected format"

head -c 100 in.ras > cut.ras
run -out raster:x.ras cut.ras
expect_status 1 "truncated input"
expect_err "Error opening cut.ras.
" "truncated input"
[ ! -e x.ras ] || fail "a failed conversion writes nothing"

run -out raster:adir in.ras
expect_status 1 "output folder"
expect_err "adir is a directory.
" "output folder"

run -out auto:x.ras in.ras
expect_status 1 "automatic output type"
expect_err "Unknown image type specified.
" "automatic output type"
check_tmp_empty "refusals"

finish
