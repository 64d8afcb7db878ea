#!/usr/bin/env bash
# Checks what each product folder may include (the layout table in README.md)
# and that no product function is longer than 60 lines. Reads the sources
# only, so the test run calls it before anything is built. Prints every
# breach and fails if there is one.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

status=0
# forbid FOLDER PATTERN WHY: no file under FOLDER may have an #include line
# matching the extended regular expression PATTERN.
forbid() {
  local folder="$1" pattern="$2" why="$3" hits
  hits="$(git ls-files -- "$folder" | grep -E '\.(cpp|h|c)$' |
          xargs -r grep -nE "^[[:space:]]*#[[:space:]]*include[[:space:]]*[<\"]($pattern)" || true)"
  if [ -n "$hits" ]; then
    echo "check-layout: $why:" >&2
    echo "$hits" >&2
    status=1
  fi
}

forbid platform '(serial|link|retrieval|app|tools|tests)/' "platform/ includes only itself and the system"
forbid serial '(link|retrieval|app|tools|tests)/' "serial/ includes only itself and platform/"
forbid link '(retrieval|app|tools|tests)/' "link/ stands below retrieval/ and app/"
forbid link 'serial/([^S]|S[^e]|SerialPort[^C]|SerialPortCtrl[^.]|SerialPortCtrl\.[^h])' \
  "link/ sees of serial/ only the controller's header"
forbid retrieval '(serial|app|tools|tests)/' "retrieval/ includes only link/ and platform/"
forbid retrieval 'windows\.h|platform/Win32(Api|Types)\.h' "retrieval/ includes nothing Win32"
forbid record '(app|tools|tests)/' "record/ stands below app/ and tools/"
forbid record 'windows\.h|platform/Win32(Api|Types)\.h' "record/ includes nothing Win32"
forbid app '(tools|tests)/' "app/ includes nothing of tools/ or tests/"
forbid app/services 'app/ui/([^AU]|A[^p]|U[^i]|AppPlatform[^.]|UiApi[^.])' \
  "app/services/ sees of app/ui/ only the seams UiApi.h and AppPlatform.h"

# A rough brace counter: strips comments, strings and character literals,
# then counts the lines between each function's opening and closing brace.
git ls-files -- app link platform record retrieval serial | grep -E '\.(cpp|h)$' |
python3 -c '
import re, sys
LIMIT = 60
token = re.compile(r"//[^\n]*|/\*.*?\*/|\"(?:\\.|[^\"\\\n])*\"|\x27(?:\\.|[^\x27\\\n])*\x27", re.S)
scope = re.compile(r"\b(namespace|class|struct|union|enum)\b|extern\s*$|=\s*$")
bad = 0
for path in sys.stdin.read().split():
    text = token.sub(lambda m: "\n" * m.group(0).count("\n") or " ", open(path).read())
    text = re.sub(r"^[ \t]*#[^\n]*", "", text, flags=re.M)
    stack, line, header = [], 1, ""
    for ch in text:
        if ch == "\n":
            line += 1
        if ch == "{":
            if any(kind == "func" for kind, _ in stack):
                stack.append(("block", line))
            elif scope.search(header) or ")" not in header:
                stack.append(("scope", line))
            else:
                stack.append(("func", line))
            header = ""
        elif ch == "}":
            kind, start = stack.pop() if stack else ("scope", line)
            if kind == "func" and line - start - 1 > LIMIT:
                print(f"check-layout: {path}:{start}: function body of {line - start - 1} lines (at most {LIMIT})", file=sys.stderr)
                bad = 1
            header = ""
        elif ch == ";":
            header = ""
        else:
            header += ch
sys.exit(bad)
' || status=1

exit "$status"
