# SPDX-License-Identifier: GPL-3.0-or-later
# A Windows manual from a Linux page: what both systems share stays as
# written once there; the Windows file (packaging/windows/*-windows.man)
# holds what is Windows' own.
#   awk -v windows=vantrel-windows.man -f manual.awk vantrel.1
# The Windows file names the Linux page's sections and subsections that are
# Linux's own (a line `.\" in place of: NAME|NAME...`), then holds list
# entries (.TP, the line after it, its text), each taking the place of the
# Linux entry with the same first line (an entry whose text is the line
# `.\" none on Windows` is left out), then sections. A section takes the
# place of the Linux one of its name; one that Linux lacks follows the
# section before it; the Linux page's own sections named above go.
BEGIN {
    while ((getline line < windows) > 0) {
        if (line ~ /^\.\\" in place of: /) {
            n = split(substr(line, 18), names, "|")
            for (i = 1; i <= n; ++i) linux[names[i]] = 1
            continue
        }
        if (line ~ /^\.SH /) {
            name = substr(line, 5); gsub(/"/, "", name)
            order[++count] = name
            inSections = 1
        }
        if (inSections) { section[name] = section[name] line "\n"; continue }
        if (line == ".TP") { tag = ""; takeTag = 1; continue }
        if (takeTag) { tag = line; takeTag = 0; entry[tag] = ".TP\n" line "\n"; continue }
        if (tag != "" && line == ".\\\" none on Windows") { entry[tag] = ""; continue }
        if (tag != "") entry[tag] = entry[tag] line "\n"
    }
    close(windows)
    for (i = 1; i <= count; ++i) if (!(order[i] in linux)) follows[order[i - 1]] = follows[order[i - 1]] order[i] "|"
}
# The Windows section `name`, then those that Linux lacks after it.
function place(name,    n, more, i) {
    printf "%s", section[name]
    printed[name] = 1
    n = split(follows[name], more, "|")
    for (i = 1; i < n; ++i) place(more[i])
}
# A heading: the section or subsection is skipped when it is Linux's own.
/^\.S[HS] / {
    name = substr($0, 5); gsub(/"/, "", name)
    seen[name] = 1
    if ($1 == ".SH") {
        if (name in section) place(name)
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
    for (i = 1; i <= count; ++i) if (!(order[i] in printed)) place(order[i])
    # An entry or a section whose Linux counterpart was renamed would be lost: say so.
    for (tag in entry) if (!(tag in used)) { print "manual.awk: no entry " tag " in the Linux page" > "/dev/stderr"; exit 1 }
    for (name in linux) if (!(name in seen)) { print "manual.awk: no section " name " in the Linux page" > "/dev/stderr"; exit 1 }
}
