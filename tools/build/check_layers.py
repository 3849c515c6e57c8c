#!/usr/bin/env python3
"""The layering rule, checked on every include of the library's sources and public headers.

The layers, bottom up, are those of PISNP_LAYERS in CMakeLists.txt. A file of a layer may
include headers of its own layer and of the layers below it, never above. Every public header
belongs to one layer (PUBLIC below). The export macro appears only in public headers.

Usage: check_layers.py SOURCE_DIR
"""
import os
import re
import sys

# Which layer each public header belongs to.
PUBLIC = {
    "pisnp_export.h": "base", "pisnp_layout.h": "base",
    "pisnp/resultCodes.h": "base", "pisnp/traceFlags.h": "base", "pisnp/pkMutex.h": "base",
    "pisnp/traceClassList.def": "base", "pisnp/testFlagList.def": "base",
    "pisnp/alloc.h": "mem", "pisnp/pools.h": "mem",
    "pisnp/strings.h": "text", "pisnp/buffers.h": "text", "pisnp/dstring.h": "text",
    "pisnp/tokens.h": "text", "pisnp/match.h": "text",
    "pisnp/lists.h": "containers", "pisnp/handleLists.h": "containers",
    "pisnp/threads.h": "os", "pisnp/hostAnchor.h": "os", "pisnp/instrument.h": "os",
    "pisnp/processes.h": "os", "pisnp/files.h": "os", "pisnp/keyboard.h": "os",
    "pisnp/errors.h": "os", "pisnp/systemInfo.h": "os", "pisnp/clientDirs.h": "os",
    "pisnp/dates.h": "date", "pisnp/timers.h": "date",
    "pisnp/messages.h": "nls", "pisnp/codesets.h": "nls",
    "pisnp/trace.h": "diag", "pisnp/traceClasses.h": "diag", "pisnp/logs.h": "diag",
    "pisnp/globalRC.h": "diag",
    "bkpSnapVolumeList.h": "snapshot", "piPlugin.h": "snapshot", "bkpSnapshot.h": "snapshot",
    "pisnp/plugin.h": "snapshot", "pisnp/snapshotProvider.h": "snapshot",
    "pisnp/snapshotRegistry.h": "snapshot",
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def layers(root):
    text = open(os.path.join(root, "CMakeLists.txt")).read()
    return re.search(r"set\(PISNP_LAYERS ([^)]*)\)", text).group(1).split()


def main():
    root = sys.argv[1]
    order = layers(root)
    rank = {name: i for i, name in enumerate(order)}
    faults = []

    def layer_of_include(name, own_dir):
        if name in PUBLIC:
            return PUBLIC[name]
        head = name.split("/")[0]
        if head in rank:
            return head
        if "/" not in name and own_dir in rank:
            return own_dir
        return None

    files = []
    for sub in ("src", "include"):
        for dirpath, _, names in os.walk(os.path.join(root, sub)):
            files += [os.path.join(dirpath, n) for n in names
                      if n.endswith((".h", ".cpp", ".c", ".def"))]
    for path in sorted(files):
        rel = os.path.relpath(path, root)
        if rel.startswith("include" + os.sep):
            key = os.path.relpath(path, os.path.join(root, "include"))
            if key not in PUBLIC:
                faults.append("%s: public header without a layer (add it to PUBLIC)" % rel)
                continue
            own, own_dir = PUBLIC[key], None
        else:
            own = own_dir = rel.split(os.sep)[1]
            if own not in rank:
                faults.append("%s: folder is not a layer of PISNP_LAYERS" % rel)
                continue
            if "PISNP_API" in open(path).read():
                faults.append("%s: the export macro belongs in include/ only" % rel)
        for name in INCLUDE.findall(open(path).read()):
            target = layer_of_include(name, own_dir)
            if target is None:
                faults.append('%s: includes "%s", which belongs to no layer' % (rel, name))
            elif rank[target] > rank[own]:
                faults.append('%s (layer %s) includes "%s" of the higher layer %s'
                              % (rel, own, name, target))
    for fault in faults:
        print(fault)
    if faults:
        return 1
    print("%d files follow the layer order %s" % (len(files), " > ".join(reversed(order))))
    return 0


if __name__ == "__main__":
    sys.exit(main())
