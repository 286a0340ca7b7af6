# Sourced by the stage scripts: pavo_ctest runs ctest with the arguments given and passes
# its status on. In CI (CI=true) a test that did not run (skipped by its own verdict, a
# missing tool, a setup fixture that failed) fails the stage too, named with its output:
# a check that silently did not happen is no pass there.
pavo_ctest() {
  local junit status
  junit=$(mktemp --suffix=.xml)
  ctest "$@" --output-junit "$junit"
  status=$?
  if [ "${CI:-}" = true ] && grep -q 'status="notrun"' "$junit"; then
    echo "CI: tests that did not run count as failed:"
    awk '
      /<testcase / && /status="notrun"/ { n = $0; sub(/.*<testcase name="/, "", n); sub(/".*/, "", n)
                                          print "  " n; skipping = 1; next }
      skipping && /<skipped message=/ { m = $0; sub(/.*message="/, "", m); sub(/".*/, "", m)
                                        print "    (" m ")"; next }
      skipping && /<\/testcase>/ { skipping = 0; next }
      skipping { sub(/<\/?system-out>/, ""); sub(/^[ \t]+/, ""); if (length($0)) print "    " $0 }
    ' "$junit" | head -n 60
    status=1
  fi
  rm -f "$junit"
  return "$status"
}
