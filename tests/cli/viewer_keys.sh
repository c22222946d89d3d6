# The viewer as a user drives it: it opens a picture named on the command
# line in a window titled after it, F13 opens the Options dialog, Alt+F4
# ends the program, and Ctrl+O opens "Lumora - Open".
source "$ORV_TEST_LIB"

# Starts the viewer on the sample and waits for its window ($wid).
start_viewer() {
  export HOME=$WORK_HOME
  "$ORVIMAGE" "$SAMPLE" &
  viewer=$!
  wid=$(timeout 20 xdotool search --sync --onlyvisible --name '^Lumora - lumora\.ras$' | head -1)
  [ -n "$wid" ] || { echo "no window titled 'Lumora - lumora.ras'"; kill $viewer; return 1; }
}
export -f start_viewer

options_and_exit() {
  start_viewer || return 1
  # Keys reach the canvas once it has the focus: click into the picture.
  eval "$(xdotool getwindowgeometry --shell "$wid")"
  xdotool mousemove $((X + 100)) $((Y + 150)) click 1
  xdotool key F13
  timeout 10 xdotool search --sync --onlyvisible --name '^Lumora - Options$' >/dev/null ||
    { echo "F13 opened no 'Lumora - Options'"; kill $viewer; return 1; }
  xdotool key --window "$wid" alt+F4
  for _ in $(seq 50); do
    kill -0 $viewer 2>/dev/null || return 0
    sleep 0.1
  done
  echo "Alt+F4 did not end the viewer"
  kill $viewer
  return 1
}
export -f options_and_exit

open_dialog() {
  start_viewer || return 1
  xdotool key --window "$wid" ctrl+o
  timeout 10 xdotool search --sync --onlyvisible --name '^Lumora - Open$' >/dev/null ||
    { echo "Ctrl+O opened no 'Lumora - Open'"; kill $viewer; return 1; }
  kill $viewer
}
export -f open_dialog

export ORVIMAGE
export SAMPLE="$ORV_SOURCE_DIR/data/samples/lumora.ras"
export WORK_HOME="$work"
for step in options_and_exit open_dialog; do
  msg=$("$ORV_SOURCE_DIR/tests/with-xvfb" 24 bash -c $step) || fail "$step: $msg"
done
finish
