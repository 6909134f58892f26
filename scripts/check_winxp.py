#!/usr/bin/env python3
"""Holds win32 programs to what Windows XP SP3 on any i686 processor runs.

    check_winxp.py [--exports DIR] PROGRAM.exe...

imports   every function a program imports is exported by the XP-era system
          DLL it names (DIR/NAME.txt, one name a line), and none is listed
          as one that DLL gained in Vista or later (DIR/NAME.vista.txt)
sse       the functions that touch SSE registers are exactly those the
          processor flags choose between, and use no SSE2 instruction (the
          SSE flag does not promise SSE2); MMX code likewise (a Pentium Pro
          has none)
manifest  the embedded manifest holds nothing XP's side-by-side loader
          refuses: elements of the assembly namespace that XP does not
          know, trustInfo outside the namespace XP reads it in, a namespace
          declared twice on one element, a dependency without a language

Reads the programs with the cross binutils' objdump and icoutils' wrestool;
prints each fault naming program, and DLL and function or function or
element, and exits 1 if there is any. The programs must keep their symbols
(the build tree's, not the stripped release copies).
"""

import os
import re
import subprocess
import sys
import xml.dom.minidom

OBJDUMP = "i686-w64-mingw32-objdump"

# Kept in the export lists, which follow Server 2003, but not in XP SP3.
SERVER_2003_ONLY = {
    "kernel32": {"FlsAlloc", "FlsFree", "FlsGetValue", "FlsSetValue", "SetThreadStackGuarantee",
                 "GetNumaProximityNode", "Wow64DisableWow64FsRedirection", "Wow64RevertWow64FsRedirection"},
    "advapi32": {"RegGetValueA", "RegGetValueW", "RegDeleteKeyExA", "RegDeleteKeyExW"},
}

# The functions that run only when the processor flags say the processor has
# the instructions they use (core/memory.cpp), and the probe that sets the
# flags, which tries each instruction set only after the processor names it
# (core/processor.cpp). Every other function must run on a plain i686.
# The floating-point set-up writes the SSE control register only where the
# flag is set, and is inlined into library and task initialisation.
SSE_FUNCTIONS = {"FillSse", "MoveForwardSse", "MoveBackwardSse", "hvb_probe_processor",
                 "InitializeFloatingPointState", "zmrInitializeLibrary", "zmrInitializeTask"}
MMX_FUNCTIONS = {"hvb_probe_processor"}

# SSE instructions that name no xmm register.
SSE_WITHOUT_XMM = re.compile(
    r"^(sfence|prefetch(nta|t0|t1|t2)|movntq|pshufw|maskmovq|pavg[bw]|pextrw|pinsrw|"
    r"pmaxsw|pminsw|pmaxub|pminub|pmovmskb|pmulhuw|psadbw|ldmxcsr|stmxcsr)$")
# Instructions of SSE2 or later that name no xmm register.
SSE2_WITHOUT_XMM = re.compile(r"^(lfence|mfence|clflush|movnti|paddq|psubq|pmuludq)$")


def fail(faults, text):
    faults.append(text)


def run(args):
    return subprocess.run(args, check=True, capture_output=True, text=True, errors="replace").stdout


def read_list(path):
    with open(path, encoding="ascii") as f:
        return {line.strip() for line in f if line.strip()}


def check_imports(exe, exports_dir, faults):
    headers = run([OBJDUMP, "-p", exe])
    dll = None
    seen = 0
    lists = {}
    for line in headers.splitlines():
        m = re.match(r"^\tDLL Name: (\S+)", line)
        if m:
            dll = m.group(1)
            key = dll.lower().removesuffix(".dll")
            if key not in lists:
                path = os.path.join(exports_dir, key + ".txt")
                if not os.path.exists(path):
                    fail(faults, f"{exe}: imports from {dll}, for which {path} lists no exports")
                    lists[key] = None
                else:
                    vista = os.path.join(exports_dir, key + ".vista.txt")
                    lists[key] = (read_list(path), read_list(vista) if os.path.exists(vista) else set())
            continue
        if dll is None:
            continue
        if not line.strip() or line.startswith("\tvma:"):
            if not line.strip():
                dll = None
            continue
        key = dll.lower().removesuffix(".dll")
        m = re.match(r"^\t[0-9a-f]+\t\s*(\d+)\s+(\S+)", line)
        if not m:
            fail(faults, f"{exe}: {dll}: an import by ordinal ({line.strip()}) cannot be checked")
            continue
        name = m.group(2)
        seen += 1
        if lists[key] is None:
            continue
        xp, vista = lists[key]
        if name in vista:
            fail(faults, f"{exe}: {dll} {name}: exported from Vista on, not by XP")
        elif name in SERVER_2003_ONLY.get(key, ()):
            fail(faults, f"{exe}: {dll} {name}: exported from Server 2003 on, not by XP")
        elif name not in xp:
            fail(faults, f"{exe}: {dll} {name}: not exported by XP's {dll}")
    if seen == 0:
        fail(faults, f"{exe}: no imports found (is it a PE image?)")
    return seen


def demangled(symbol):
    """The function's name without its arguments, stdcall size or C underscore."""
    name = symbol.replace("(anonymous namespace)::", "").split("(")[0]
    name = re.sub(r"@\d+$", "", name)
    return name[1:] if "::" not in name and name.startswith("_") else name


def check_instructions(exe, faults):
    listing = run([OBJDUMP, "-d", "-C", "--no-show-raw-insn", exe])
    function = None
    uses_sse, uses_mmx = {}, {}
    for line in listing.splitlines():
        m = re.match(r"^[0-9a-f]+ <(.+)>:$", line)
        if m:
            function = m.group(1)
            continue
        m = re.match(r"^\s+[0-9a-f]+:\t(\S+)\s*(.*)$", line)
        # The toolchain's linker script puts the exception tables (data) in
        # the code section.
        if not m or function is None or function == ".gcc_except_table":
            continue
        mnemonic, operands = m.group(1), m.group(2)
        xmm = "%xmm" in operands
        if xmm or SSE_WITHOUT_XMM.match(mnemonic) or SSE2_WITHOUT_XMM.match(mnemonic):
            uses_sse.setdefault(function, set())
            sse2 = SSE2_WITHOUT_XMM.match(mnemonic) or (
                xmm and (mnemonic.startswith("p") or re.search(r"(sd|pd|dq)", mnemonic)
                         or mnemonic in ("movq", "movd", "movnti")))
            if sse2:
                uses_sse[function].add(mnemonic)
        if re.search(r"%mm\d", operands) or mnemonic in ("emms", "femms"):
            uses_mmx.setdefault(function, 0)
    names = {f: demangled(f) for f in set(uses_sse) | set(uses_mmx)}
    for function, sse2 in sorted(uses_sse.items()):
        if names[function] not in SSE_FUNCTIONS:
            fail(faults, f"{exe}: {function} uses SSE, but the processor flags do not choose it")
        elif sse2:
            fail(faults, f"{exe}: {function} uses SSE2 ({', '.join(sorted(sse2))}), which the SSE flag does not promise")
    for function in sorted(uses_mmx):
        if names[function] not in MMX_FUNCTIONS:
            fail(faults, f"{exe}: {function} uses MMX, but the processor flags do not choose it")
    found = {names[f] for f in uses_sse}
    for missing in sorted(SSE_FUNCTIONS - found):
        fail(faults, f"{exe}: {missing} is listed as an SSE variant but is not there: is the list out of date?")
    return len(uses_sse), len(uses_mmx)


ASM_V1 = "urn:schemas-microsoft-com:asm.v1"
ASM_V2 = "urn:schemas-microsoft-com:asm.v2"
# The elements of the assembly namespace that XP's loader knows; any other
# stops the program with "the application configuration is incorrect".
XP_ASSEMBLY_ELEMENTS = {
    "assembly", "assemblyIdentity", "dependency", "dependentAssembly", "description", "file", "noInherit",
    "noInheritable", "comClass", "comInterfaceExternalProxyStub", "comInterfaceProxyStub", "typelib",
    "windowClass", "progid", "clrClass", "clrSurrogate", "bindingRedirect",
}


def check_manifest(exe, faults):
    text = subprocess.run(["wrestool", "-x", "--raw", "--type=24", "--name=1", exe], check=True,
                          capture_output=True).stdout
    if not text:
        fail(faults, f"{exe}: no manifest (resource 24, 1)")
        return
    try:
        doc = xml.dom.minidom.parseString(text)
    except Exception as e:  # noqa: BLE001 - any parse error is the fault
        fail(faults, f"{exe}: the manifest is not well-formed: {e}")
        return
    root = doc.documentElement
    if root.namespaceURI != ASM_V1 or root.localName != "assembly" or root.getAttribute("manifestVersion") != "1.0":
        fail(faults, f"{exe}: the manifest's root is not <assembly manifestVersion=\"1.0\"> of {ASM_V1}")
    own = [e for e in root.childNodes if e.nodeType == e.ELEMENT_NODE and e.namespaceURI == ASM_V1
           and e.localName == "assemblyIdentity"]
    if len(own) != 1:
        fail(faults, f"{exe}: the manifest names the program's own assemblyIdentity {len(own)} times, not once")

    def walk(element, inside_trust):
        where = f"{exe}: manifest <{element.tagName}>"
        declared = {}
        for i in range(element.attributes.length):
            a = element.attributes.item(i)
            if a.name == "xmlns" or a.name.startswith("xmlns:"):
                if a.value in declared:
                    fail(faults, f"{where} declares {a.value} twice ({declared[a.value]}, {a.name})")
                declared[a.value] = a.name
        ns, name = element.namespaceURI, element.localName
        if name == "trustInfo" and ns != ASM_V2:
            fail(faults, f"{where} is in {ns}; XP reads trustInfo only in {ASM_V2}")
        if inside_trust and ns != ASM_V2:
            fail(faults, f"{where} inside trustInfo is in {ns}, not {ASM_V2}")
        if ns == ASM_V1 and name not in XP_ASSEMBLY_ELEMENTS:
            fail(faults, f"{where} is an element of {ASM_V1} that XP does not know")
        if ns == ASM_V1 and name == "assemblyIdentity":
            if element.parentNode.localName == "dependentAssembly" and not element.hasAttribute("language"):
                fail(faults, f"{where} of {element.getAttribute('name')} has no language (XP then finds no assembly)")
            if not re.fullmatch(r"\d+\.\d+\.\d+\.\d+", element.getAttribute("version")):
                fail(faults, f"{where} has no four-part version")
        for child in element.childNodes:
            if child.nodeType == child.ELEMENT_NODE:
                walk(child, inside_trust or name == "trustInfo")

    walk(root, False)


def main(argv):
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    exports_dir = os.path.join(os.path.dirname(root), "shared", "winxp-exports")
    args = argv[1:]
    if len(args) >= 2 and args[0] == "--exports":
        exports_dir, args = args[1], args[2:]
    if not args or args[0].startswith("-"):
        print(__doc__.strip(), file=sys.stderr)
        return 2
    if not os.path.isdir(exports_dir):
        print(f"check_winxp: no export lists at {exports_dir} (--exports DIR)", file=sys.stderr)
        return 2
    faults = []
    for exe in args:
        imports = check_imports(exe, exports_dir, faults)
        sse, mmx = check_instructions(exe, faults)
        check_manifest(exe, faults)
        print(f"check_winxp: {os.path.basename(exe)}: {imports} imports, {sse} SSE and {mmx} MMX functions")
    for text in faults:
        print(f"FAIL: {text}")
    print(f"check_winxp: {len(args)} program(s), {len(faults)} fault(s)")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
