# Counting checks for the Wine stages; sourced. Each check's output goes to $build/$check_log.
passed=0
failed=0
check() { # check NAME COMMAND...: runs the command, counts and reports the result
  local name="$1"
  shift
  if "$@" >>"$build/$check_log" 2>&1; then
    passed=$((passed + 1))
    echo "PASS $name"
  else
    failed=$((failed + 1))
    echo "FAIL $name (see $build/$check_log)"
  fi
}
finish() { # the last line, and the exit status: 0 when nothing failed
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
  exit
}
