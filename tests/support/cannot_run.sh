# Sourced by the shell tests. A test that cannot run here (a tool is missing)
# skips on a developer's machine (exit 77, the skip code ctest is told about);
# under CI (environment CI set) scripts/install-deps.sh installs every tool, so
# the same gap fails the test.
cannot_run() {
  echo "cannot run: $*"
  [ -n "${CI:-}" ] && exit 1
  exit 77
}
