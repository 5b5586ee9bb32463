# SPDX-License-Identifier: GPL-3.0-or-later
# The Windows manual from the Linux page: what both systems share stays as
# written once there; packaging/windows/vantrel-windows.man holds what is
# Windows' own.
#   awk -v windows=vantrel-windows.man -f manual.awk vantrel.1
# The Windows file is list entries (.TP, the line after it, its text), each
# taking the place of the Linux entry with the same first line, then
# sections, which take the place of the Linux page's sections named in
# `linux` below. Subsections in `linux` go too.
BEGIN {
    split("PORTS ENVIRONMENT PERMISSIONS FILES WINDOWS|VIRTUAL DISPLAY|SEE ALSO|A shop", names, "|")
    for (i in names) {
        n = split(names[i], words, " ")
        if (i == 1) for (j = 1; j <= n; ++j) linux[words[j]] = 1
        else linux[names[i]] = 1
    }
    while ((getline line < windows) > 0) {
        if (line ~ /^\.SH /) inSections = 1
        if (inSections) { sections = sections line "\n"; continue }
        if (line == ".TP") { tag = ""; takeTag = 1; continue }
        if (takeTag) { tag = line; takeTag = 0; entry[tag] = ".TP\n" line "\n"; continue }
        if (tag != "") entry[tag] = entry[tag] line "\n"
    }
    close(windows)
}
# A heading: the section or subsection is skipped when it is Linux's own.
/^\.S[HS] / {
    name = substr($0, 5); gsub(/"/, "", name)
    if ($1 == ".SH") {
        if (name in linux && !placed) { printf "%s", sections; placed = 1 }
        skipSection = name in linux
        skipSub = 0
    } else skipSub = name in linux
    inEntry = 0
    if (skipSection || skipSub) next
}
skipSection || skipSub { next }
# A list entry that Windows has its own of.
pending { pending = 0; if ($0 in entry) { printf "%s", entry[$0]; used[$0] = 1; inEntry = 1; next } print ".TP" }
$0 == ".TP" { pending = 1; inEntry = 0; next }
inEntry && /^\.(TP|PP|LP|P|SH|SS|IP)( |$)/ { inEntry = 0 }
inEntry { next }
{ print }
END {
    if (!placed) printf "%s", sections
    # An entry whose Linux counterpart was renamed would be lost: say so.
    for (tag in entry) if (!(tag in used)) { print "manual.awk: no entry " tag " in the Linux page" > "/dev/stderr"; exit 1 }
}
