#!/usr/bin/env python3
"""The symbols that the public headers promise, against those the shared library exports.

Every declaration under include/ that carries the export macro must be exported by
libPiSNP.so, and the library must export nothing else: a symbol cannot be exported without
a public declaration, nor declared without being exported.

The promised set is read from clang's syntax tree of a unit that includes every public
header: functions and variables marked for export, and the members of exported classes that
are not defined in the header (with the vtable and type information of polymorphic ones).

Usage: public_symbols.py --include DIR --library libPiSNP.so [--clang clang++] [--target TRIPLE]
                         [--list]
  --target reads the headers as that target's compiler does: types of the ABI, va_list among
    them, are spelled differently in each target's symbols.
  --list prints the promised set instead of comparing.
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile

DECL_KINDS = {"FunctionDecl", "CXXMethodDecl", "CXXConstructorDecl", "CXXDestructorDecl",
              "CXXConversionDecl", "VarDecl"}


class Walker:
    """Walks the tree in document order, following the file that each location names."""

    def __init__(self, include_dir):
        self.include_dir = os.path.realpath(include_dir)
        self.file = ""
        self.mangled = set()
        self.polymorphic = set()
        self.marked_templates = set()

    def note_loc(self, loc):
        if not isinstance(loc, dict):
            return
        for key in ("spellingLoc", "expansionLoc"):
            self.note_loc(loc.get(key))
        if "file" in loc:
            self.file = loc["file"]

    def note_locs(self, node):
        self.note_loc(node.get("loc"))
        rng = node.get("range", {})
        self.note_loc(rng.get("begin"))
        self.note_loc(rng.get("end"))

    def public(self):
        return os.path.realpath(self.file).startswith(self.include_dir + os.sep)

    @staticmethod
    def has_attr(node, kind):
        return any(c.get("kind") == kind for c in node.get("inner", []))


    @staticmethod
    def defined_here(node):
        # A body, or "= default"/"= delete" in the class: inline, hence not exported.
        return (Walker.has_attr(node, "CompoundStmt") or node.get("explicitlyDefaulted")
                or node.get("explicitlyDeleted") or node.get("inline"))

    def walk(self, node, exported_scope=False):
        self.note_locs(node)
        kind = node.get("kind")
        marked = self.has_attr(node, "VisibilityAttr")
        # Members inherit the class's visibility, so an attribute of their own can only hide them.
        if kind in DECL_KINDS and self.public() and not node.get("isImplicit") \
                and not (exported_scope and marked):
            if (marked or exported_scope) and "mangledName" in node \
                    and not self.defined_here(node) and not node.get("pure"):
                if kind != "VarDecl" or node.get("storageClass") in ("extern", "static") \
                        or exported_scope:
                    self.mangled.add(node["mangledName"])
        if kind in ("CXXRecordDecl", "ClassTemplateSpecializationDecl") and self.public():
            scope = marked or (kind == "ClassTemplateSpecializationDecl"
                               and (exported_scope or node.get("name") in self.marked_templates))
            if scope and node.get("completeDefinition") and node.get("name"):
                if node.get("definitionData", {}).get("isPolymorphic"):
                    self.polymorphic.add(node["name"])
                for child in node.get("inner", []):
                    self.walk(child, True)
                return
        if kind == "ClassTemplateDecl" and self.public():
            pattern = next((c for c in node.get("inner", []) if c.get("kind") == "CXXRecordDecl"),
                           {})
            marked_template = self.has_attr(pattern, "VisibilityAttr")
            if marked_template:
                self.marked_templates.add(node.get("name"))
            for child in node.get("inner", []):
                if child.get("kind") == "ClassTemplateSpecializationDecl":
                    self.walk(child, marked_template)
                else:
                    self.walk(child, False)
            return
        for child in node.get("inner", []):
            self.walk(child, False)


def promised(include_dir, clang, target=None):
    headers = []
    for root, _, files in os.walk(include_dir):
        headers += [os.path.join(root, f) for f in files if f.endswith(".h")]
    with tempfile.NamedTemporaryFile("w", suffix=".cpp", delete=False) as unit:
        for h in sorted(headers):
            unit.write('#include "%s"\n' % os.path.relpath(h, include_dir))
    try:
        dump = subprocess.run(
            [clang, "-std=c++20", "-D_GNU_SOURCE", "-D_FILE_OFFSET_BITS=64", "-I", include_dir,
             "-fsyntax-only", "-Xclang", "-ast-dump=json", unit.name]
            + (["--target=" + target] if target else []),
            check=True, capture_output=True).stdout
    finally:
        os.unlink(unit.name)
    walker = Walker(include_dir)
    walker.walk(json.loads(dump))
    names = subprocess.run(["c++filt"], input="\n".join(sorted(walker.mangled)), text=True,
                           check=True, capture_output=True).stdout.split("\n")
    result = {n for n in names if n}
    for cls in walker.polymorphic:
        result |= {"vtable for " + cls, "typeinfo for " + cls, "typeinfo name for " + cls}
    return result


def exported(library):
    out = subprocess.run(["nm", "-DC", "--defined-only", library], check=True,
                         capture_output=True, text=True).stdout
    skip = ("_init", "_fini", "__bss_start", "_edata", "_end")
    noise = ("__odr_asan", "__asan", "__ubsan", "__sanitizer", "__tsan")
    result = set()
    for line in out.splitlines():
        parts = line.split(" ", 2)
        if len(parts) < 3:
            continue
        name = parts[2]
        if name in skip or name.startswith(noise):
            continue
        result.add(name)
    return result


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--include", required=True)
    ap.add_argument("--library")
    ap.add_argument("--clang", default="clang++")
    ap.add_argument("--target")
    ap.add_argument("--list", action="store_true")
    args = ap.parse_args()
    want = promised(args.include, args.clang, args.target)
    if args.list:
        print("\n".join(sorted(want)))
        return 0
    have = exported(args.library)
    missing, extra = sorted(want - have), sorted(have - want)
    for name in missing:
        print("declared in include/ but not exported: " + name)
    for name in extra:
        print("exported without a declaration in include/: " + name)
    if missing or extra:
        return 1
    print("%d exported symbols, each declared in include/" % len(have))
    return 0


if __name__ == "__main__":
    sys.exit(main())
