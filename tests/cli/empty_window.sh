# Started without a file, the viewer maps its 500 x 600 main window titled
# "Lumora - (None)" and keeps running.
source "$ORV_TEST_LIB"

check() {
  "$ORVIMAGE" -timeout 30 &
  viewer=$!
  wid=$(timeout 20 xdotool search --sync --onlyvisible --name '^Lumora - \(None\)$' | head -1)
  [ -n "$wid" ] || { echo "no window titled 'Lumora - (None)'"; kill $viewer; return 1; }
  geometry=$(xwininfo -id "$wid" | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w "x" h}')
  [ "$geometry" == "500x600" ] || { echo "window is $geometry"; kill $viewer; return 1; }
  class=$(xprop -id "$wid" WM_CLASS)
  [[ "$class" == *'"orvimage", "Orvimage"'* ]] || { echo "class $class"; kill $viewer; return 1; }
  sleep 1
  kill -0 $viewer 2>/dev/null || { echo "the viewer stopped"; return 1; }
  kill $viewer
  return 0
}
export -f check
export ORVIMAGE
msg=$("$ORV_SOURCE_DIR/tests/with-xvfb" 24 bash -c check) || fail "empty window: $msg"
finish
