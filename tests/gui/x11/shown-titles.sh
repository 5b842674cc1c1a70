# Sourced by the window scripts. shown_titles waits up to a minute for the X server
# of $DISPLAY to show a window, and prints the titles (_NET_WM_NAME) of the windows
# shown then, one a line; nothing when none showed.
shown_titles() {
  local titles= id
  for _ in $(seq 1 300); do
    titles=$(
      for id in $(xwininfo -root -children | sed -n 's/^ *\(0x[0-9a-f]*\) .*/\1/p'); do
        xwininfo -id "$id" | grep -q 'Map State: IsViewable' || continue
        xprop -id "$id" _NET_WM_NAME | sed -n 's/^_NET_WM_NAME(UTF8_STRING) = "\(.*\)"$/\1/p'
      done
    )
    [ -n "$titles" ] && break
    sleep 0.2
  done
  printf '%s' "$titles"
}
