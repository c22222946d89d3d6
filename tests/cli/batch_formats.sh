# Batch conversion into every writable raster format: the files read back
# in ImageMagick with the picture's pixels, a GIF is always 8 bits deep,
# and inputs of every readable kind convert.
source "$ORV_TEST_LIB"
export TMPDIR="$work/tmp"
mkdir -p "$TMPDIR"
cd "$work"

# A picture of 12 flat colours, so that 8-bit formats hold it exactly.
/usr/bin/convert -size 48x36 xc:red \
  \( -size 16x36 xc:blue \) -geometry +16+0 -composite \
  \( -size 16x12 xc:yellow \) -geometry +32+0 -composite \
  \( -size 48x6 xc:white \) -geometry +0+30 -composite \
  -type TrueColor -depth 8 in.ppm
/usr/bin/convert in.ppm ras:in.ras
# ImageMagick takes encoded 24-bit raster data for red-green-blue, unlike
# the format and netpbm: raster files are read back with netpbm.
same_pixels() { # file description
  local got file=$1
  if [[ "$file" == ras:* ]]; then
    rasttopnm "${file#ras:}" > "$file.ppm" 2>/dev/null
    file="$file.ppm"
  fi
  got=$(/usr/bin/compare -metric AE "$file" in.ppm null: 2>&1)
  [ "$got" == "0" ] || fail "$2: $got pixels differ"
}

for fmt in raster tiff gif xpm; do
  run -out "$fmt:out.$fmt" in.ras
  expect_status 0 "to $fmt"
  expect_err "" "to $fmt"
  case $fmt in raster) peer="ras:out.$fmt" ;; *) peer="$fmt:out.$fmt" ;; esac
  same_pixels "$peer" "a peer reading our $fmt"
done

# GIF output is 8 bits deep whatever the input.
pbmmake -g 20 10 | pnmtorast > bits.ras 2>/dev/null
for input in in.ras bits.ras; do
  run -f -out gif:deep.gif "$input"
  expect_status 0 "gif from $input"
  flags=$(od -An -tu1 -j10 -N1 deep.gif | tr -d ' ')
  [ $((flags & 7)) -eq 7 ] || fail "GIF from $input has a colour table of $((flags & 7)) bits"
done

# Standard output.
env -u DISPLAY "$ORVIMAGE" -out gif:- in.ras >stdout.gif 2>err.txt || fail "gif to stdout: $(cat err.txt)"
[ "$(head -c 6 stdout.gif)" == "GIF87a" ] || fail "standard output holds a GIF"
same_pixels gif:stdout.gif "GIF on standard output"

# Inputs of the other readable kinds, back to raster.
/usr/bin/convert in.ppm in.gif
/usr/bin/convert in.ppm -compress lzw in.tif
/usr/bin/convert in.ppm in.xpm
cp in.ppm in.pnm
ppmtopcx in.ppm > in.pcx 2>/dev/null
for input in in.gif in.tif in.xpm in.pnm in.pcx; do
  rm -f back.ras
  run -out raster:back.ras "$input"
  expect_status 0 "from $input"
  same_pixels ras:back.ras "raster converted from $input"
done

# JPEG is lossy (and subsamples the chroma of these hard edges): our file
# begins with the JFIF segment and reads back as the same picture.
run -out jpeg:out.jpg in.ras
expect_status 0 "to jpeg"
[ "$(od -An -tx1 -N10 out.jpg | tr -d ' \n')" == "ffd8ffe000104a464946" ] ||
  fail "a saved JPEG begins with SOI and the JFIF segment"
db=$(/usr/bin/compare -metric PSNR jpeg:out.jpg in.ppm null: 2>&1)
awk -v d="$db" 'BEGIN { exit !(d + 0 >= 20) }' || fail "our JPEG in ImageMagick: $db dB"

# A JPEG converts to a GIF on standard output; a Photo CD pack to raster.
/usr/bin/convert in.ppm -quality 95 in.jpg
env -u DISPLAY "$ORVIMAGE" -out gif:- in.jpg >jpeg.gif 2>err.txt || fail "jpeg to gif: $(cat err.txt)"
[ "$(head -c 6 jpeg.gif)" == "GIF87a" ] || fail "a GIF from a JPEG on standard output"
/usr/bin/convert in.ppm pcd:in.pcd
run -out raster:pcd.ras in.pcd
expect_status 0 "from a Photo CD pack"
[ "$(/usr/bin/identify -format %wx%h pcd.ras)" == "768x512" ] || fail "a pack converts at Base size"

[ -z "$(ls -A "$TMPDIR")" ] || fail "temporary files left: $(ls -A "$TMPDIR")"
finish
