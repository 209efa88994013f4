#!/usr/bin/env python3
"""Generates the C++ classes of the message modules from their schema files.

Usage:
  asn1gen.py --src messages/ --out <dir>       generate every module found
  asn1gen.py --src messages/ --check           only parse and run the self-checks

Each directory messages/<module>/ with *.asn files is one module; see README.md
for the schema subset. Output per module M: <out>/messages/M_fwd.h (forward
declarations and the enumerations), <out>/messages/M.h (the classes; of the
modules M uses only their M_fwd.h) and <out>/M.cpp (records and accessors).
"""

import argparse
import os
import re
import sys

# The one table of the modules and their SEQUENCE, CHOICE and ENUMERATED type
# counts. Check mode fails when the schema differs, so that a type lost or
# added by mistake while editing a schema file shows; everything else the
# generator needs (ranges, list element types, extension additions) it takes
# from the schema itself.
MODULE_TYPES = {
    'LGCP': (63, 24, 19), 'TERM': (84, 39, 31), 'ACP': (21, 7, 14),
    'MON': (11, 7, 1), 'LEMZGW': (92, 20, 33), 'HSP': (11, 4, 6),
    'BASE': (1, 0, 2), 'CCP': (1, 1, 0), 'MEDIA': (3, 7, 1),
}

BUILTINS = ('NULL', 'BOOLEAN', 'INTEGER', 'OCTET STRING', 'IA5String',
            'OBJECT IDENTIFIER', 'BIT STRING', 'GeneralizedTime')
SIZED = ('OCTET STRING', 'IA5String', 'BIT STRING')

CPP_RESERVED = set('''
alignas alignof and and_eq asm auto bitand bitor bool break case catch char
char8_t char16_t char32_t class compl concept const consteval constexpr constinit
const_cast continue co_await co_return co_yield decltype default delete do double
dynamic_cast else enum explicit export extern false float for friend goto if
inline int long mutable namespace new noexcept not not_eq nullptr operator or
or_eq private protected public register reinterpret_cast requires return short
signed sizeof static static_assert static_cast struct switch template this
thread_local throw true try typedef typeid typename union unsigned using virtual
void volatile wchar_t while xor xor_eq
NULL EOF errno assert stdin stdout stderr major minor makedev unix linux
'''.split())


class SchemaError(Exception):
    pass


# ---------------------------------------------------------------- lexer

TOKEN_RE = re.compile(r'''
    (?P<ws>\s+)
  | (?P<comment>--[^\n]*)
  | (?P<assign>::=)
  | (?P<ellipsis>\.\.\.)
  | (?P<range>\.\.)
  | (?P<punct>[{}(),.])
  | (?P<number>-?[0-9]+)
  | (?P<ident>[A-Za-z][A-Za-z0-9_]*(?:-(?!-)[A-Za-z0-9_]+)*)
''', re.VERBOSE)


class Token:
    __slots__ = ('kind', 'text', 'file', 'line')

    def __init__(self, kind, text, file, line):
        self.kind, self.text, self.file, self.line = kind, text, file, line

    def where(self):
        return '%s:%d' % (self.file, self.line)


def tokenize(text, file):
    tokens = []
    pos, line = 0, 1
    while pos < len(text):
        m = TOKEN_RE.match(text, pos)
        if not m:
            raise SchemaError('%s:%d: unexpected character %r' % (file, line, text[pos]))
        kind = m.lastgroup
        if kind not in ('ws', 'comment'):
            tokens.append(Token(kind, m.group(), file, line))
        line += m.group().count('\n')
        pos = m.end()
    tokens.append(Token('eof', '', file, line))
    return tokens


# ---------------------------------------------------------------- model

class TypeRef:
    """A field, alternative or element type."""

    def __init__(self, kind, where, module=None, name=None, lo=None, hi=None,
                 size=None, elem=None):
        self.kind = kind          # a builtin, 'ref', 'SEQUENCE OF' or 'SET OF'
        self.where = where
        self.module = module      # ref: the module (qualified or the own one)
        self.name = name          # ref: the type name
        self.lo, self.hi = lo, hi  # INTEGER range
        self.size = size          # (lo, hi) size constraint of a string
        self.elem = elem          # list element TypeRef
        self.target = None        # ref: the TypeDef, after resolution

    def key(self):
        """Text naming the type behind any aliases, with its range or size."""
        r = strip_alias(self)
        if r.kind == 'ref':
            return '%s.%s' % (r.module, r.name)
        if r.kind in ('SEQUENCE OF', 'SET OF'):
            return '%s %s' % (r.kind, r.elem.key())
        if r.lo is not None:
            return '%s (%d..%d)' % (r.kind, r.lo, r.hi)
        if r.size is not None:
            return '%s (SIZE (%d..%d))' % ((r.kind,) + r.size)
        return r.kind


class Element:
    def __init__(self, name, type_, optional, where):
        self.name, self.type, self.optional, self.where = name, type_, optional, where


class TypeDef:
    def __init__(self, module, name, kind, where):
        self.module = module
        self.name = name
        self.kind = kind          # 'SEQUENCE', 'CHOICE', 'ENUMERATED' or 'ALIAS'
        self.where = where
        self.extensible = False
        self.root = []            # Elements, or (name, value, where) for ENUMERATED
        self.additions = []
        self.alias = None         # ALIAS: the TypeRef

    def qname(self):
        return '%s.%s' % (self.module, self.name)


class Module:
    def __init__(self, name):
        self.name = name
        self.types = {}
        self.order = []
        self.files = []


# ---------------------------------------------------------------- parser

class Parser:
    def __init__(self, text, file):
        self.toks = tokenize(text, file)
        self.i = 0
        self.file = file

    def peek(self, k=0):
        return self.toks[min(self.i + k, len(self.toks) - 1)]

    def next(self):
        t = self.toks[self.i]
        if t.kind != 'eof':
            self.i += 1
        return t

    def error(self, tok, msg):
        raise SchemaError('%s: %s (at %r)' % (tok.where(), msg, tok.text or 'end of file'))

    def expect(self, text):
        t = self.next()
        if t.text != text:
            self.error(t, 'expected %r' % text)
        return t

    def accept(self, text):
        if self.peek().text == text:
            return self.next()
        return None

    def ident(self, what):
        t = self.next()
        if t.kind != 'ident':
            self.error(t, 'expected %s' % what)
        return t

    def number(self):
        t = self.next()
        if t.kind != 'number':
            self.error(t, 'expected a number')
        return int(t.text)

    def parse_module(self):
        name = self.ident('module name')
        for word in ('DEFINITIONS', 'AUTOMATIC', 'TAGS', '::=', 'BEGIN'):
            self.expect(word)
        defs = []
        while self.peek().text != 'END':
            defs.append(self.parse_assignment(name.text))
        self.expect('END')
        t = self.peek()
        if t.kind != 'eof':
            self.error(t, 'text after END')
        return name.text, defs

    def parse_assignment(self, module):
        name = self.ident('type name')
        if not name.text[0].isupper():
            self.error(name, 'type names start with an upper-case letter')
        if '-' in name.text:
            self.error(name, 'a type name is a class name and cannot hold a hyphen')
        self.expect('::=')
        t = self.peek()
        if t.text in ('SEQUENCE', 'CHOICE') and self.peek(1).text == '{':
            td = TypeDef(module, name.text, self.next().text, name.where())
            self.parse_elements(td, td.kind == 'SEQUENCE')
        elif t.text == 'ENUMERATED':
            self.next()
            td = TypeDef(module, name.text, 'ENUMERATED', name.where())
            self.parse_enumerators(td)
        else:
            td = TypeDef(module, name.text, 'ALIAS', name.where())
            td.alias = self.parse_type(module)
        return td

    def parse_elements(self, td, is_sequence):
        self.expect('{')
        target = td.root
        if self.accept('}'):
            return
        while True:
            t = self.peek()
            if t.text == '...':
                self.next()
                if td.extensible:
                    self.error(t, 'second extension marker')
                td.extensible = True
                target = td.additions
            elif t.text == '[':
                self.error(t, 'extension groups are not supported')
            else:
                name = self.ident('field or alternative name')
                if not name.text[0].islower():
                    self.error(name, 'field and alternative names start with a lower-case letter')
                type_ = self.parse_type(td.module)
                optional = False
                if self.peek().text == 'OPTIONAL':
                    if not is_sequence:
                        self.error(self.peek(), 'OPTIONAL in a CHOICE')
                    self.next()
                    optional = True
                elif self.peek().text == 'DEFAULT':
                    self.error(self.peek(), 'DEFAULT is not supported')
                target.append(Element(name.text, type_, optional, name.where()))
            if self.accept('}'):
                return
            self.expect(',')

    def parse_enumerators(self, td):
        self.expect('{')
        target = td.root
        while True:
            t = self.peek()
            if t.text == '...':
                self.next()
                if td.extensible:
                    self.error(t, 'second extension marker')
                td.extensible = True
                target = td.additions
            else:
                name = self.ident('enumerator name')
                if self.peek().text != '(':
                    self.error(self.peek(), 'every enumerator needs its value in parentheses')
                self.next()
                value = self.number()
                self.expect(')')
                target.append((name.text, value, name.where()))
            if self.accept('}'):
                break
            self.expect(',')
        if not td.root:
            self.error(t, 'an enumeration needs at least one root enumerator')

    def parse_range(self):
        self.expect('(')
        lo = self.number()
        self.expect('..')
        hi = self.number()
        self.expect(')')
        return lo, hi

    def parse_size(self):
        start = self.expect('(')
        self.expect('SIZE')
        self.expect('(')
        lo = self.number()
        hi = self.number() if self.accept('..') else lo
        self.expect(')')
        self.expect(')')
        if lo < 0 or hi < lo or hi > 0xFFFFFFFF:
            self.error(start, 'bad size range %d..%d' % (lo, hi))
        return lo, hi

    def parse_type(self, module):
        t = self.next()
        w = t.where()
        words = {'OCTET': 'STRING', 'BIT': 'STRING', 'OBJECT': 'IDENTIFIER'}
        if t.text in words:
            self.expect(words[t.text])
            kind = t.text + ' ' + words[t.text]
        elif t.text in ('SEQUENCE', 'SET'):
            if self.peek().text == '(' or self.peek().text == 'SIZE':
                self.error(self.peek(), 'size constraints on lists are not supported')
            self.expect('OF')
            return TypeRef(t.text + ' OF', w, elem=self.parse_type(module))
        elif t.text in ('CHOICE', 'ENUMERATED'):
            self.error(t, 'inline %s: give it a top-level name' % t.text)
        elif t.kind == 'ident' and t.text in BUILTINS:
            kind = t.text
        elif t.kind == 'ident' and t.text[0].isupper():
            if self.peek().text == '.':
                self.next()
                name = self.ident('type name after module')
                return TypeRef('ref', w, module=t.text, name=name.text)
            return TypeRef('ref', w, module=module, name=t.text)
        else:
            self.error(t, 'expected a type')
        ref = TypeRef(kind, w)
        if self.peek().text == '(':
            if kind == 'INTEGER':
                ref.lo, ref.hi = self.parse_range()
                # The record holds the lower bound signed and the upper one
                # unsigned; a signed range compares its upper bound as signed.
                if ref.lo > ref.hi or ref.lo < -2**31 or ref.hi < 0 or ref.hi > 0xFFFFFFFF \
                        or (ref.lo < 0 and ref.hi > 2**31 - 1):
                    raise SchemaError('%s: range %d..%d does not fit 32 bits as the runtime holds a range: '
                                      'a signed lower bound, an upper bound of 0 or more' % (w, ref.lo, ref.hi))
            elif kind in SIZED:
                ref.size = self.parse_size()
            else:
                self.error(self.peek(), 'no constraint allowed on %s' % kind)
        return ref


# ---------------------------------------------------------------- loading and checks

def find_schema_files(src):
    """{module directory name: [files]} for every directory holding *.asn files."""
    found = {}
    for entry in sorted(os.listdir(src)):
        d = os.path.join(src, entry)
        if not os.path.isdir(d):
            continue
        files = sorted(os.path.join(d, f) for f in os.listdir(d) if f.endswith('.asn'))
        if files:
            found[entry] = files
    return found


def load(src):
    modules = {}
    for dirname, files in find_schema_files(src).items():
        mod = Module(dirname.upper())
        for path in files:
            with open(path, encoding='utf-8') as f:
                text = f.read()
            name, defs = Parser(text, os.path.relpath(path, os.path.dirname(os.path.abspath(src)))).parse_module()
            if name != mod.name:
                raise SchemaError('%s: module %s in the directory of module %s' % (path, name, mod.name))
            mod.files.append(path)
            for td in defs:
                if td.name in mod.types:
                    raise SchemaError('%s: %s already defined at %s' % (td.where, td.qname(), mod.types[td.name].where))
                mod.types[td.name] = td
                mod.order.append(td)
        modules[mod.name] = mod
    return modules


def walk_refs(td):
    """Every TypeRef used by a type, lists included."""
    if td.kind == 'ALIAS':
        todo = [td.alias]
    elif td.kind == 'ENUMERATED':
        todo = []
    else:
        todo = [e.type for e in td.root + td.additions]
    while todo:
        r = todo.pop()
        yield r
        if r.elem is not None:
            todo.append(r.elem)


def resolve(modules):
    """Binds references; returns {module: [error texts]} of unresolved ones."""
    errors = {}
    for mod in modules.values():
        for td in mod.order:
            for r in walk_refs(td):
                if r.kind != 'ref':
                    continue
                m = modules.get(r.module)
                if m is None:
                    errors.setdefault(mod.name, []).append(
                        '%s: %s refers to %s of module %s, which has no schema' % (r.where, td.qname(), r.name, r.module))
                elif r.name not in m.types:
                    errors.setdefault(mod.name, []).append(
                        '%s: %s refers to %s.%s, which is not defined' % (r.where, td.qname(), r.module, r.name))
                else:
                    r.target = m.types[r.name]
    # An alias chain must end in a real type.
    for mod in modules.values():
        for td in mod.order:
            seen = set()
            cur = td
            while cur is not None and cur.kind == 'ALIAS' and cur.alias.kind == 'ref':
                if cur.qname() in seen:
                    errors.setdefault(mod.name, []).append('%s: %s is an alias of itself' % (td.where, td.qname()))
                    break
                seen.add(cur.qname())
                cur = cur.alias.target
    return errors


def uses(modules):
    """{module: set of the other modules it refers to}."""
    out = {}
    for mod in modules.values():
        s = set()
        for td in mod.order:
            for r in walk_refs(td):
                if r.kind == 'ref' and r.module != mod.name:
                    s.add(r.module)
        out[mod.name] = s
    return out


def unusable(modules, errors):
    """Modules that cannot be generated: their own errors, or they use such a module."""
    bad = set(errors)
    graph = uses(modules)
    changed = True
    while changed:
        changed = False
        for name, deps in graph.items():
            if name not in bad and any(d in bad or d not in modules for d in deps):
                bad.add(name)
                changed = True
    return bad


def strip_alias(ref):
    """The TypeRef behind aliases."""
    while ref.kind == 'ref' and ref.target is not None and ref.target.kind == 'ALIAS':
        ref = ref.target.alias
    return ref


def cpp_name(name):
    n = name.replace('-', '_')
    return n + '_' if n in CPP_RESERVED else n


def counts(mod):
    k = [sum(1 for t in mod.order if t.kind == kind) for kind in ('SEQUENCE', 'CHOICE', 'ENUMERATED')]
    return sum(k), tuple(k)


def check_names(modules):
    errors = []
    for mod in modules.values():
        for td in mod.order:
            if td.kind == 'ALIAS':
                continue
            items = [(e[0], e[2]) if td.kind == 'ENUMERATED' else (e.name, e.where)
                     for e in td.root + td.additions]
            seen = {}
            for name, where in items:
                c = cpp_name(name)
                if c in seen:
                    errors.append('%s: %s: %s clashes with %s' % (where, td.qname(), name, seen[c]))
                seen[c] = name
                if c == td.name:
                    errors.append('%s: %s: a member may not carry the name of its type' % (where, td.qname()))
    return errors


def shapes(modules):
    """What the schema uses, as the generated code will: the integer ranges,
    the element type of every list kind, and the types with extension
    additions with their (root, additions) member counts."""
    ranges, lists, ext = set(), {'SEQUENCE OF': set(), 'SET OF': set()}, {}
    for mod in modules.values():
        for td in mod.order:
            for r in walk_refs(td):
                r = strip_alias(r)
                if r.kind == 'INTEGER' and r.lo is not None:
                    ranges.add((r.lo, r.hi))
                elif r.kind in lists:
                    lists[r.kind].add(r.elem.key())
            if td.additions:
                ext[td.qname()] = (len(td.root), len(td.additions))
    return {'ranges': sorted(ranges), 'lists': {k: sorted(v) for k, v in lists.items()}, 'extensions': ext}


def unrepresentable(modules):
    """Texts for the types the runtime has no class for: a sized string stands
    only as a field or alternative type, where it gets a subtype of its own."""
    problems = []
    for mod in modules.values():
        for td in mod.order:
            for r in walk_refs(td):
                if r.elem is not None:
                    e = strip_alias(r.elem)
                    if e.size is not None:
                        problems.append('%s: %s: %s of a sized %s: list elements cannot carry a size'
                                        % (r.where, td.qname(), r.kind, e.kind))
    return problems


def self_check(modules, errors, table=MODULE_TYPES):
    """Texts of every failed self-check (empty when all pass); table holds the
    expected type counts."""
    problems = []
    for mod in sorted(errors):
        problems.extend(errors[mod])
    problems.extend(check_names(modules))
    problems.extend(unrepresentable(modules))
    for name, mod in sorted(modules.items()):
        _, kinds = counts(mod)
        if name not in table:
            problems.append('module %s is not one of the known modules' % name)
        elif kinds != table[name]:
            problems.append('module %s has %d SEQUENCE, %d CHOICE, %d ENUMERATED types, expected %d, %d, %d'
                            % ((name,) + kinds + table[name]))
    return problems


# ---------------------------------------------------------------- C++ output

# Members of the runtime bases that a nested alternative or field type, or an
# enumerator, must not hide.
BASE_MEMBERS = set("""
AbstractData CreateFun InfoType theInfo create clone compare accept getTag info
get_from print_on do_compare do_clone do_accept setSelection select
createSelection currentSelection getSelection isUnknownSelection getNumChoices
getTotalChoices extendable getSelectionName getSelectionTag setID swap
unselected_ unknownSelection_ selectionInfos selectionNames defaultTag BitMap
FieldVector getField getOrCreateField getFieldName getFieldInfo getFieldId
hasOptionalField includeOptionalField removeOptionalField numFields
knownExtensions numOptional fieldCount tagMode getFieldTag optionalMap
extensionMap fieldInfos fieldIds fieldNames setFromInt asInt getMaximum getName
setFromName entryName NamedNumber Id value_type std ASN1 Messages
""".split())

STRING_RECORDS = {
    # kind: (runtime class, tag, record type, extra record words)
    'IA5String': ('ASN1::IA5String', 22, 'ASN1::AbstractString::InfoType', 'ASN1::IA5StringSet, 128, 7, 7, 8'),
    'OCTET STRING': ('ASN1::OCTET_STRING', 4, 'ASN1::ConstrainedObject::InfoType', None),
    'BIT STRING': ('ASN1::BIT_STRING', 3, 'ASN1::ConstrainedObject::InfoType', None),
}

SIMPLE_CLASSES = {
    'NULL': 'ASN1::Null', 'BOOLEAN': 'ASN1::BOOLEAN', 'INTEGER': 'ASN1::INTEGER',
    'OCTET STRING': 'ASN1::OCTET_STRING', 'IA5String': 'ASN1::IA5String',
    'OBJECT IDENTIFIER': 'ASN1::OBJECT_IDENTIFIER', 'BIT STRING': 'ASN1::BIT_STRING',
    'GeneralizedTime': 'ASN1::GeneralizedTime',
}


def member_name(name):
    """C++ name of a nested member type or enumerator."""
    n = cpp_name(name)
    return n + '_' if n in BASE_MEMBERS else n


def cpp_type(ref, owner=None, member=None):
    """C++ class of a field, alternative or element type. A sized string is the
    value_type nested in the member's own struct."""
    ref = strip_alias(ref)
    if ref.kind == 'ref':
        return '::%s::%s' % (ref.module, ref.name)
    if ref.kind == 'SEQUENCE OF':
        return 'ASN1::SEQUENCE_OF<%s>' % cpp_type(ref.elem)
    if ref.kind == 'SET OF':
        return 'ASN1::SET_OF<%s>' % cpp_type(ref.elem)
    if ref.kind == 'INTEGER' and ref.lo is not None:
        return 'ASN1::Constrained_INTEGER<ASN1::FixedConstraint, %d, %du>' % (ref.lo, ref.hi)
    if ref.size is not None:
        if owner is None:
            raise SchemaError('%s: a sized %s may only stand as a field or alternative type' % (ref.where, ref.kind))
        return '%s::%s::value_type' % (owner, member_name(member))
    return SIMPLE_CLASSES[ref.kind]


def arg_type(ref, cls):
    """Argument type of set_f(v), select_a(v) and the CHOICE constructors; None
    where the type takes no value (NULL)."""
    ref = strip_alias(ref)
    if ref.kind == 'NULL':
        return None
    if ref.kind == 'BOOLEAN':
        return 'bool'
    if ref.kind == 'INTEGER':
        return 'int' if ref.lo is None else 'unsigned int'
    if ref.kind == 'IA5String':
        return 'const std::string&'
    if ref.kind == 'OCTET STRING':
        return 'const std::vector<char>&'
    if ref.kind == 'ref' and ref.target.kind == 'ENUMERATED':
        return cls + '::NamedNumber'
    return 'const %s&' % cls


def enum_names(td):
    """Names-table entries: the bare name where the value follows the previous
    one, else name=value."""
    out, prev = [], -1
    for name, value, _ in td.root + td.additions:
        out.append(name if value == prev + 1 else '%s=%d' % (name, value))
        prev = value
    return out


def cstr(s):
    return '"%s"' % s


class Emitter:
    def __init__(self, modules, mod):
        self.modules = modules
        self.mod = mod

    # -- member tables

    def members(self, td):
        """(element, index, optional bit or -1) of every field or alternative."""
        out = []
        if td.kind == 'SEQUENCE':
            bit = 0
            for i, e in enumerate(td.root):
                if e.optional:
                    out.append((e, i, bit))
                    bit += 1
                else:
                    out.append((e, i, -1))
            for k, e in enumerate(td.additions):
                out.append((e, len(td.root) + k, bit + k))
        else:
            for i, e in enumerate(td.root + td.additions):
                out.append((e, i, -1))
        return out

    def type_label(self, name):
        """The class name an access error reports, as a C string."""
        return cstr('%s::%s' % (self.mod.name, name))

    def nopt(self, td):
        return sum(1 for e in td.root if e.optional)

    def info_of(self, ref, td, e):
        return '&%s::theInfo' % cpp_type(ref, td.name, e.name)

    # -- fwd header

    def fwd_header(self):
        m = self.mod.name
        out = ['// Generated by messages/asn1gen.py from messages/%s/*.asn; do not edit.' % m.lower(),
               '#pragma once', '', '#include "asn1/value.h"', '', 'namespace %s {' % m, '']
        for td in self.mod.order:
            if td.kind in ('SEQUENCE', 'CHOICE'):
                out.append('class %s;' % td.name)
        out.append('')
        for td in self.mod.order:
            if td.kind == 'ENUMERATED':
                out.extend(self.enum_class(td))
        out.append('}  // namespace %s' % m)
        return '\n'.join(out) + '\n'

    def enum_class(self, td):
        n = td.name
        items = td.root + td.additions
        lines = ['extern const char* const %s_enum_names__[%d];' % (n, len(items)), '',
                 'class %s : public ASN1::ENUMERATED {' % n, ' public:', '  enum NamedNumber {']
        for name, value, _ in items:
            lines.append('    %s = %d,' % (member_name(name), value))
        lines += ['  };', '',
                  '  static const InfoType theInfo;', '',
                  '  %s() : ASN1::ENUMERATED(&theInfo) {}' % n,
                  '  %s(NamedNumber v) : ASN1::ENUMERATED(&theInfo) { setFromInt(v); }' % n,
                  '  %s(const %s&) = default;' % (n, n),
                  '  %s& operator=(const %s&) = default;' % (n, n),
                  '  ~%s() override;' % n,
                  '  %s& operator=(NamedNumber v) {' % n, '    setFromInt(v);', '    return *this;', '  }',
                  '  operator NamedNumber() const { return static_cast<NamedNumber>(asInt()); }', '']
        seen = set()
        for name, value, _ in items:
            c = cpp_name(name)
            if c in seen:
                continue
            seen.add(c)
            lines.append('  void set_%s() { setFromInt(%s); }' % (c, member_name(name)))
            lines.append('  bool is_%s() const { return asInt() == %s; }' % (c, member_name(name)))
        lines += ['};', '']
        return lines

    # -- module header

    def header(self, graph):
        m = self.mod.name
        deps = sorted(graph[m])
        out = ['// Generated by messages/asn1gen.py from messages/%s/*.asn; do not edit.' % m.lower(),
               '#pragma once', '', '#include <string>', '#include <type_traits>', '#include <vector>', '',
               '#include "asn1/asn1.h"', '#include "messages/%s_fwd.h"' % m]
        # The declarations name the other modules' classes only by reference,
        # so a change there recompiles only who includes their full header.
        for d in deps:
            out.append('#include "messages/%s_fwd.h"' % d)
        out += ['', 'namespace %s {' % m, '']
        for td in self.mod.order:
            if td.kind == 'SEQUENCE':
                out.extend(self.sequence_decl(td))
            elif td.kind == 'CHOICE':
                out.extend(self.choice_decl(td))
            elif td.kind == 'ALIAS' and strip_alias(td.alias).size is not None:
                # Each field of a sized string type has a subtype of its own.
                out.append('// %s: %s, sized; see the fields that use it.' % (td.name, strip_alias(td.alias).kind))
                out.append('')
            elif td.kind == 'ALIAS':
                out.append('using %s = %s;' % (td.name, cpp_type(td.alias)))
                out.append('')
        out.append('}  // namespace %s' % m)
        return '\n'.join(out) + '\n'

    def nested(self, td, e, extra):
        """The struct of a member: its value_type where the member has a sized
        string type, plus extra lines."""
        ref = strip_alias(e.type)
        lines = []
        if ref.size is not None:
            cls, _, _, _ = STRING_RECORDS[ref.kind]
            lines += ['    class value_type : public %s {' % cls, '     public:',
                      '      static const %s theInfo;' % STRING_RECORDS[ref.kind][2],
                      '      value_type() : %s(&theInfo) {}' % cls,
                      '      using %s::operator=;' % cls, '    };']
        lines += extra
        if not lines:
            return []
        return ['  struct %s {' % member_name(e.name)] + lines + ['  };']

    def class_head(self, td, base):
        n = td.name
        return ['class %s : public %s {' % (n, base), ' public:']

    def class_tail(self, td, tables):
        n = td.name
        return ['', '  static const InfoType theInfo;'] + tables + [
            '', '  %s();' % n, '  %s(const %s&) = default;' % (n, n),
            '  %s& operator=(const %s&) = default;' % (n, n), '  ~%s() override;' % n]

    def sequence_decl(self, td):
        mem = self.members(td)
        lines = self.class_head(td, 'ASN1::SEQUENCE')
        for e, i, bit in mem:
            lines += self.nested(td, e, [])
        tables = []
        if mem:
            tables = ['  static const ASN1::AbstractData::InfoType* const fieldInfos[%d];' % len(mem),
                      '  static const std::int32_t fieldIds[%d];' % len(mem),
                      '  static const char* const fieldNames[%d];' % len(mem)]
        lines += self.class_tail(td, tables)
        for e, i, bit in mem:
            c = cpp_name(e.name)
            t = cpp_type(e.type, td.name, e.name)
            a = arg_type(e.type, t)
            lines.append('')
            lines.append('  const %s& get_%s() const;' % (t, c))
            if a:
                lines.append('  %s& set_%s(%s v);' % (t, c, a))
            lines.append('  %s& set_%s();' % (t, c))
            if bit < 0:
                lines.append('  %s& ref_%s();' % (t, c))
            else:
                lines.append('  bool %s_isPresent() const;' % c)
                lines.append('  void omit_%s();' % c)
        lines += ['};', '']
        return lines

    def choice_decl(self, td):
        mem = self.members(td)
        lines = self.class_head(td, 'ASN1::CHOICE')
        for e, i, _ in mem:
            lines += self.nested(td, e, ['    typedef std::integral_constant<int, %d> Id;' % i])
        tables = []
        if mem:
            tables = ['  static const ASN1::AbstractData::InfoType* const selectionInfos[%d];' % len(mem),
                      '  static const char* const selectionNames[%d];' % len(mem)]
        lines += self.class_tail(td, tables)
        for e, i, _ in mem:
            c = cpp_name(e.name)
            t = cpp_type(e.type, td.name, e.name)
            a = arg_type(e.type, t) or 'const ASN1::Null&'
            lines.append('  %s(%s::Id, %s v);' % (td.name, member_name(e.name), a))
        for e, i, _ in mem:
            c = cpp_name(e.name)
            t = cpp_type(e.type, td.name, e.name)
            a = arg_type(e.type, t)
            lines.append('')
            lines.append('  bool %s_isSelected() const { return currentSelection() == %d; }' % (c, i))
            lines.append('  %s& select_%s();' % (t, c))
            if a:
                lines.append('  %s& select_%s(%s v);' % (t, c, a))
            lines.append('  const %s& get_%s() const;' % (t, c))
            lines.append('  %s& ref_%s();' % (t, c))
        lines += ['};', '']
        return lines

    # -- source

    def source(self, graph):
        m = self.mod.name
        out = ['// Generated by messages/asn1gen.py from messages/%s/*.asn; do not edit.' % m.lower(),
               '#include "messages/%s.h"' % m, '']
        for d in sorted(graph[m]):
            out.append('#include "messages/%s.h"' % d)
        out += ['#include "messages/support.h"', '', 'namespace %s {' % m, '',
                'using Messages::fieldAt;', 'using Messages::presentAt;', 'using Messages::includeAt;',
                'using Messages::selectNew;', 'using Messages::selectMade;', 'using Messages::selectedAt;',
                'using Messages::made;',
                'using Messages::assigned;', '']
        for td in self.mod.order:
            if td.kind == 'ENUMERATED':
                out.extend(self.enum_source(td))
            elif td.kind == 'SEQUENCE':
                out.extend(self.sequence_source(td))
            elif td.kind == 'CHOICE':
                out.extend(self.choice_source(td))
        out.append('}  // namespace %s' % m)
        return '\n'.join(out) + '\n'

    def enum_source(self, td):
        n = td.name
        items = td.root + td.additions
        names = enum_names(td)
        maximum = max(v for _, v, _ in td.root)
        return ['MESSAGES_CONSTINIT const char* const %s_enum_names__[%d] = {%s};'
                % (n, len(items), ', '.join(cstr(x) for x in names)),
                'MESSAGES_CONSTINIT const %s::InfoType %s::theInfo = {' % (n, n),
                '    {&ASN1::create_as<%s>, 10}, %s, %d, %s_enum_names__, %d};'
                % (n, 'true' if td.extensible else 'false', maximum, n, len(items)),
                '%s::~%s() {}' % (n, n), self.no_data_assert(n, 'ENUMERATED'), '']

    @staticmethod
    def no_data_assert(n, base):
        # The runtime frees these values by their base class's size.
        return 'static_assert(sizeof(%s) == sizeof(ASN1::%s), "no data beyond the base");' % (n, base)

    def subtype_source(self, td, e):
        ref = strip_alias(e.type)
        if ref.size is None:
            return []
        cls, tag, rec, extra = STRING_RECORDS[ref.kind]
        q = '%s::%s::value_type' % (td.name, member_name(e.name))
        head = '{{&ASN1::create_as<%s>, %d}, ASN1::FixedConstraint, %d, %du}' % (q, tag, ref.size[0], ref.size[1])
        body = '{%s, %s}' % (head, extra) if extra else head
        return ['MESSAGES_CONSTINIT const %s %s::theInfo = %s;' % (rec, q, body)]

    def tables(self, td, mem, infos_name, names_name, with_ids):
        n = td.name
        out = []
        if not mem:
            return out
        out.append('MESSAGES_CONSTINIT const ASN1::AbstractData::InfoType* const %s::%s[%d] = {'
                   % (n, infos_name, len(mem)))
        out.append('    %s};' % ',\n    '.join(self.info_of(e.type, td, e) for e, _, _ in mem))
        if with_ids:
            ids = [str(bit) if i < len(td.root) else '0' for e, i, bit in mem]
            out.append('MESSAGES_CONSTINIT const std::int32_t %s::fieldIds[%d] = {%s};' % (n, len(mem), ', '.join(ids)))
        out.append('MESSAGES_CONSTINIT const char* const %s::%s[%d] = {%s};'
                   % (n, names_name, len(mem), ', '.join(cstr(e.name) for e, _, _ in mem)))
        return out

    def sequence_source(self, td):
        n = td.name
        mem = self.members(td)
        out = []
        for e, _, _ in mem:
            out += self.subtype_source(td, e)
        out += self.tables(td, mem, 'fieldInfos', 'fieldNames', True)
        arr = (lambda name: name) if mem else (lambda name: 'nullptr')
        out += ['MESSAGES_CONSTINIT const %s::InfoType %s::theInfo = {' % (n, n),
                '    {&ASN1::create_as<%s>, 0x10}, %s, %s, %s, %d, %d, %d, nullptr, nullptr, %s};'
                % (n, 'true' if td.extensible else 'false', arr('fieldInfos'), arr('fieldIds'),
                   len(td.root), len(td.additions), self.nopt(td), arr('fieldNames')),
                '%s::%s() : ASN1::SEQUENCE(&theInfo) {}' % (n, n),
                '%s::~%s() {}' % (n, n), self.no_data_assert(n, 'SEQUENCE')]
        for e, i, bit in mem:
            c = cpp_name(e.name)
            t = cpp_type(e.type, n, e.name)
            a = arg_type(e.type, t)
            if bit < 0:
                out.append('const %s& %s::get_%s() const { return fieldAt<%s>(*this, %d); }' % (t, n, c, t, i))
                if a:
                    out.append('%s& %s::set_%s(%s v) { return assigned(fieldAt<%s>(*this, %d), v); }' % (t, n, c, a, t, i))
                out.append('%s& %s::set_%s() { return fieldAt<%s>(*this, %d); }' % (t, n, c, t, i))
                out.append('%s& %s::ref_%s() { return fieldAt<%s>(*this, %d); }' % (t, n, c, t, i))
            else:
                out.append('const %s& %s::get_%s() const { return presentAt<%s>(*this, %d, %d, %s); }'
                           % (t, n, c, t, bit, i, self.type_label(n)))
                if a:
                    out.append('%s& %s::set_%s(%s v) { return assigned(includeAt<%s>(*this, %d, %d), v); }'
                               % (t, n, c, a, t, bit, i))
                out.append('%s& %s::set_%s() { return includeAt<%s>(*this, %d, %d); }' % (t, n, c, t, bit, i))
                out.append('bool %s::%s_isPresent() const { return hasOptionalField(%d); }' % (n, c, bit))
                out.append('void %s::omit_%s() { removeOptionalField(%d); }' % (n, c, bit))
        out.append('')
        return out

    def choice_source(self, td):
        n = td.name
        mem = self.members(td)
        out = []
        for e, _, _ in mem:
            out += self.subtype_source(td, e)
        out += self.tables(td, mem, 'selectionInfos', 'selectionNames', False)
        arr = (lambda name: name) if mem else (lambda name: 'nullptr')
        out += ['MESSAGES_CONSTINIT const %s::InfoType %s::theInfo = {' % (n, n),
                '    {&ASN1::create_as<%s>, 0}, %s, %s, %d, %d, nullptr, %s};'
                % (n, 'true' if td.extensible else 'false', arr('selectionInfos'),
                   len(td.root), len(td.root) + len(td.additions), arr('selectionNames')),
                '%s::%s() : ASN1::CHOICE(&theInfo) {}' % (n, n),
                '%s::~%s() {}' % (n, n), self.no_data_assert(n, 'CHOICE')]
        for e, i, _ in mem:
            c = cpp_name(e.name)
            t = cpp_type(e.type, n, e.name)
            a = arg_type(e.type, t)
            out.append('%s::%s(%s::Id, %s v) : ASN1::CHOICE(&theInfo, %d, made<%s>(v)) {}'
                       % (n, n, member_name(e.name), a or 'const ASN1::Null&', i, t))
            out.append('%s& %s::select_%s() { return selectNew<%s>(*this, %d); }' % (t, n, c, t, i))
            if a:
                out.append('%s& %s::select_%s(%s v) { return selectMade<%s>(*this, %d, v); }' % (t, n, c, a, t, i))
            out.append('const %s& %s::get_%s() const { return selectedAt<%s>(*this, %d, %s); }'
                       % (t, n, c, t, i, self.type_label(n)))
            out.append('%s& %s::ref_%s() { return selectedAt<%s>(*this, %d, %s); }' % (t, n, c, t, i, self.type_label(n)))
        out.append('')
        return out


def write_if_changed(path, text):
    try:
        with open(path, encoding='utf-8') as f:
            if f.read() == text:
                return
    except OSError:
        pass
    tmp = path + '.tmp'
    with open(tmp, 'w', encoding='utf-8') as f:
        f.write(text)
    os.replace(tmp, path)


def generate(modules, errors, out, names=None):
    """Writes the files of every module; a module that cannot be generated gets
    files that stop the compilation of whoever includes them."""
    graph = uses(modules)
    bad = unusable(modules, errors)
    os.makedirs(os.path.join(out, 'messages'), exist_ok=True)
    for name in sorted(set(modules) | set(names or ())):
        fwd = os.path.join(out, 'messages', name + '_fwd.h')
        hdr = os.path.join(out, 'messages', name + '.h')
        src = os.path.join(out, name + '.cpp')
        if name in modules and name not in bad:
            em = Emitter(modules, modules[name])
            texts = (em.fwd_header(), em.header(graph), em.source(graph))
        else:
            if name not in modules:
                why = 'module %s has no schema files' % name
            elif name in errors:
                why = 'module %s has unresolved references' % name
            else:
                why = 'module %s uses a module that cannot be generated' % name
            if name in modules:
                sys.stderr.write('asn1gen: error: %s; its classes are not generated\n' % why)
            stop = '#pragma once\n#error "%s"\n' % why
            texts = (stop, stop, '// %s\n' % why)
        for path, text in zip((fwd, hdr, src), texts):
            write_if_changed(path, text)


def report_counts(modules, out):
    total = 0
    for name in sorted(modules):
        n, kinds = counts(modules[name])
        total += n
        out.write('%-7s %4d types (%d SEQUENCE, %d CHOICE, %d ENUMERATED)\n' % ((name, n) + kinds))
    out.write('%-7s %4d types\n' % ('all', total))


def report_shapes(modules, out):
    found = shapes(modules)
    for lo, hi in found['ranges']:
        out.write('range   %d..%d\n' % (lo, hi))
    for kind, elems in sorted(found['lists'].items()):
        for e in elems:
            out.write('list    %s %s\n' % (kind, e))
    for q, (root, added) in sorted(found['extensions'].items()):
        out.write('added   %s: %d root, %d added\n' % (q, root, added))


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument('--src', required=True, help='directory holding one subdirectory per module')
    ap.add_argument('--out', help='output directory')
    ap.add_argument('--check', action='store_true', help='fail when a self-check fails')
    ap.add_argument('--quiet', action='store_true')
    ap.add_argument('--shapes', action='store_true',
                    help='list the integer ranges, list element types and extension additions used')
    ap.add_argument('--modules', default='', help='comma-separated modules whose files must exist')
    args = ap.parse_args(argv)
    try:
        modules = load(args.src)
    except SchemaError as e:
        sys.stderr.write('asn1gen: error: %s\n' % e)
        return 1
    errors = resolve(modules)
    if not args.quiet:
        report_counts(modules, sys.stdout)
    if args.shapes:
        report_shapes(modules, sys.stdout)
    problems = self_check(modules, errors)
    for p in problems:
        sys.stderr.write('asn1gen: %s: %s\n' % ('error' if args.check else 'warning', p))
    if args.check:
        return 1 if problems else 0
    if args.out:
        try:
            generate(modules, errors, args.out, [m for m in args.modules.split(',') if m])
        except SchemaError as e:
            sys.stderr.write('asn1gen: error: %s\n' % e)
            return 1
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
