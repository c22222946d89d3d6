# The command line: usage and version texts, and every refusal with its
# message and exit status.  All of it works without an X display.
source "$ORV_TEST_LIB"

usage_text='Usage: orvimage ...
    [-usage]
    [-version]
    [-verbose]
    [-timeout <seconds>]
    [-parley]
    [-linear]
    [-snapshot   [-region <WxH+X+Y>] | 
                 [-screen] | 
                 [-window <id>] ] 
    [-out <image prefix type>:<output file name>
                 [-f]
                 [-outType <image prefix type>] ]
    [<image prefix type>:<input filename>
                 [-inType <image prefix type>] ]

Supported types:

Image prefix type    Image file type
           RASTER    Kestrel Raster
             TIFF    TIFF
              GIF    GIF
               PS    PostScript
             EPSF    EPSF
              XPM    XPM
             JPEG    JFIF (JPEG)
             AUTO    Automatic
'

run -usage
expect_status 0 "-usage"
expect_err "$usage_text" "-usage"

run -version
expect_status 0 "-version"
expect_err 'Lumora version 1.2.2 running on @(#)Motif Version 2.1.0 
' "-version"

# The toolkit accepts unique abbreviations of options.
run -vers
expect_status 0 "-vers abbreviates -version"

# --- refusals -------------------------------------------------------------------
run -outType gif
expect_status 1 "-outType without -out"
expect_err $'No output file specified.\n' "-outType without -out"

run -out gif:
expect_status 1 "output prefix without a name"
expect_err $'No output file specified.\n' "output prefix without a name"

run picture:
expect_status 1 "input prefix without a name"
expect_err $'No input file specified.\n' "input prefix without a name"

run -out x.ras
expect_status 1 "batch without input"
expect_err $'No input file specified.\n' "batch without input"

run -snapshot -out x.ras
expect_status 1 "batch snapshot without an operation"
expect_err $'No snapshot operation specified.\n' "batch snapshot without an operation"

run -snapshot -screen picture.ras
expect_status 1 "input and capture"
expect_err $'Only one input source may be specified.\n' "input and capture"

run -parley picture.ras
expect_status 1 "-parley with an input file"
expect_err $'Parley option not allowed.\n' "-parley with an input file"

run -parley -out x.ras picture.ras
expect_status 1 "-parley with -out"
expect_err $'Parley option not allowed.\n' "-parley with -out"

run -parley -snapshot -screen
expect_status 1 "-parley with -snapshot"
expect_err $'Parley option not allowed.\n' "-parley with -snapshot"

run -snapshot -screen -window 0x1234
expect_status 1 "-screen with -window"
expect_err $'Only one snapshot operation allowed.\n' "-screen with -window"

run -snapshot -region 10x10+0+0 -screen
expect_status 1 "-region with -screen"
expect_err $'Only one snapshot operation allowed.\n' "-region with -screen"

run -snapshot -screen -window
expect_status 1 "bare -window with -screen"
expect_err $'Only one snapshot operation allowed.\n' "bare -window with -screen"

run -snapshot -window 0x12zz
expect_status 1 "hexadecimal id with junk"
expect_err $'Invalid window id specified.\n' "hexadecimal id with junk"

run -snapshot -region 100x200
expect_status 1 "region without a position"
expect_err $'Invalid geometry specified.\n' "region without a position"

run one.ras two.ras
expect_status 1 "two arguments"
expect_err "$ORVIMAGE: command line option unknown:
option: one.ras
option: two.ras

$usage_text" "two arguments"

# An unknown prefix is reported and detection takes over; a later refusal
# still ends the run, so the message is seen without a display.
run -parley foo:picture
expect_err $'Unknown image type specified.\nParley option not allowed.\n' "unknown input prefix"

run -out foo:out.x -outType bar picture.ras
expect_err_has $'Unknown image type specified.\n' "unknown output type"

# --- accepted snapshot operations get past the checks ---------------------------
for op in "-window 0x1f00001" "-window 12345" "-window XTerm" "-window" "-region 10x20+3+4" "-screen"; do
  # shellcheck disable=SC2086
  run -snapshot -out out.ras $op
  for refusal in "Invalid" "Only one" "No snapshot"; do
    expect_err_lacks "$refusal" "-snapshot $op accepted"
  done
done

# --- the standard-input copy ------------------------------------------------------
TMPDIR=/nonexistent/folder run -out x.ras -
expect_status 1 "standard input without a temporary folder"
expect_err_has "Lumora: Can't create temp file \`/nonexistent/folder/orvimage_in." "temp file message"

# --- the current directory ---------------------------------------------------------
gone="$work/gone"
mkdir "$gone"
(cd "$gone" && rmdir "$gone" && env -u DISPLAY "$ORVIMAGE" -version) 2>"$work/cwd.err"
[ $? -eq 1 ] || fail "a deleted current directory exits 1"
[ "$(cat "$work/cwd.err")" == "Lumora: Can't get current directory!" ] || fail "getcwd message: $(cat "$work/cwd.err")"

# --- a display is needed for everything else -----------------------------------------
run
expect_status 1 "no display, no batch"
expect_err_has "Can't open display" "no display, no batch"

finish
