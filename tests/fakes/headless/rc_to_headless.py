#!/usr/bin/env python3
"""Writes the headless dialog backend's copy of the resources (dialog
templates, the port list's initial entries, the string table) from the .rc
file, so that the window's unit tests see what the program shows.

Usage: rc_to_headless.py RESOURCES.rc OUTPUT.inc
"""
import re
import sys

# windres statement -> (window class, whether the first operand is the text)
STATEMENTS = {
    "LTEXT": ("static", True),
    "RTEXT": ("static", True),
    "CTEXT": ("static", True),
    "PUSHBUTTON": ("button", True),
    "DEFPUSHBUTTON": ("button", True),
    "EDITTEXT": ("edit", False),
    "COMBOBOX": ("combobox", False),
}
# The styles the headless backend acts on; the others only draw.
KEPT_STYLE = re.compile(r"^(CBS_\w+|WS_TABSTOP)$")


def operands(text):
    """Splits a statement's operands at top-level commas; strings stay whole."""
    parts = re.findall(r'"(?:[^"\\]|\\.)*"|[^,]+', text)
    return [p.strip() for p in parts if p.strip()]


def control(line):
    keyword, _, rest = line.partition(" ")
    ops = operands(rest)
    if keyword == "CONTROL":
        text, nid, cls, style = ops[0], ops[1], ops[2].strip('"').lower(), ops[3]
        if not text.startswith('"'):
            text = '""'  # an icon's resource id, not a caption
    elif keyword in STATEMENTS:
        cls, has_text = STATEMENTS[keyword]
        text = ops[0] if has_text else '""'
        nid = ops[1] if has_text else ops[0]
        at = 6 if has_text else 5  # after the id and the four coordinates
        style = ops[at] if len(ops) > at else ""
    else:
        sys.exit(f"rc_to_headless: unknown dialog statement: {line}")
    if nid == "IDC_STATIC":
        nid = "-1"
    kept = [s.strip() for s in style.split("|") if KEPT_STYLE.match(s.strip())]
    return f'{{{nid}, "{cls}", {text}, {" | ".join(kept) or "0"}}}'


def main(source, output):
    lines = [l.split("//")[0].strip() if not l.strip().startswith('"') else l.strip()
             for l in open(source, encoding="utf-8")]
    dialogs, dlginit, strings = [], [], []
    block, name, depth = None, None, 0
    for line in lines:
        if not line:
            continue
        words = line.split()
        if depth == 0:
            if len(words) >= 2 and words[1] in ("DIALOG", "DIALOGEX"):
                block, name = "dialog", words[0]
                dialogs.append((name, []))
            elif len(words) >= 2 and words[1] == "RT_DLGINIT_TYPE":
                block, name = "dlginit", words[0]
            elif words[0] == "STRINGTABLE":
                block = "strings"
            elif words[0] in ("BEGIN", "{"):
                depth = 1
            continue
        if words[0] in ("BEGIN", "{"):
            depth += 1
        elif words[0] in ("END", "}"):
            depth -= 1
            if depth == 0:
                block = None
        elif block == "dialog":
            dialogs[-1][1].append(control(line))
        elif block == "dlginit" and line != "0":
            ops = operands(line)
            text = ops[3].replace("\\0", "")
            dlginit.append(f"{{{name}, {ops[0]}, {ops[1]}, {text}}}")
        elif block == "strings":
            sid, text = line.split(None, 1)
            strings.append(f"{{{sid}, {text}}}")

    out = [f"// Generated from {source.rsplit('/', 1)[-1]} by rc_to_headless.py; do not edit."]
    out.append("const HeadlessDialogTemplate kDialogTemplates[] = {")
    for name, controls in dialogs:
        out.append(f"    {{{name}, {{")
        out += [f"        {c}," for c in controls]
        out.append("    }},")
    out.append("};")
    out.append("const HeadlessDlgInitEntry kDlgInitEntries[] = {")
    out += [f"    {e}," for e in dlginit]
    out.append("};")
    out.append("const HeadlessStringEntry kStringTable[] = {")
    out += [f"    {s}," for s in strings]
    out.append("};")
    text = "\n".join(out) + "\n"
    try:
        if open(output, encoding="utf-8").read() == text:
            return
    except OSError:
        pass
    open(output, "w", encoding="utf-8").write(text)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
