"""Self-checks and parser of the message class generator."""

import io
import os
import subprocess
import sys
import tempfile
import unittest
from contextlib import redirect_stderr, redirect_stdout

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..'))
import asn1gen  # noqa: E402


def schema_tree(root, files):
    """Writes {relative path: text} under root."""
    for rel, text in files.items():
        path = os.path.join(root, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, 'w', encoding='utf-8') as f:
            f.write(text)


def module(name, body):
    return '%s DEFINITIONS AUTOMATIC TAGS ::= BEGIN\n%s\nEND\n' % (name, body)


class Tree(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.root = self.tmp.name

    def tearDown(self):
        self.tmp.cleanup()

    def load(self, files):
        schema_tree(self.root, files)
        mods = asn1gen.load(self.root)
        return mods, asn1gen.resolve(mods)


class ParserTest(Tree):
    def parse_error(self, body):
        with self.assertRaises(asn1gen.SchemaError) as cm:
            self.load({'mon/a.asn': module('MON', body)})
        return str(cm.exception)

    def test_rejects_what_the_subset_does_not_have(self):
        cases = [
            ('E ::= ENUMERATED { a, b }', 'value in parentheses'),
            ('S ::= SEQUENCE { a INTEGER, ..., b INTEGER, ... }', 'second extension marker'),
            ('S ::= SEQUENCE { a CHOICE { x NULL } }', 'inline CHOICE'),
            ('S ::= SEQUENCE { a INTEGER DEFAULT 1 }', 'DEFAULT'),
            ('C ::= CHOICE { a INTEGER OPTIONAL }', 'OPTIONAL in a CHOICE'),
            ('S ::= SEQUENCE { a SEQUENCE (SIZE(1..4)) OF INTEGER }', 'size constraints on lists'),
            ('S ::= SEQUENCE { a BOOLEAN (0..1) }', 'no constraint'),
            ('S ::= SEQUENCE { a INTEGER (0..4294967296) }', 'does not fit'),
            ('S ::= SEQUENCE { a INTEGER (-5..-1) }', 'does not fit'),
            ('S ::= SEQUENCE { a INTEGER (-1..2147483648) }', 'does not fit'),
            ('S ::= SEQUENCE { a INTEGER } $', 'unexpected character'),
            ('Bad-Name ::= SEQUENCE { a INTEGER }', 'cannot hold a hyphen'),
        ]
        for body, text in cases:
            with self.subTest(body=body):
                self.assertIn(text, self.parse_error(body))

    def test_error_names_file_and_line(self):
        self.assertIn('mon/a.asn:3:', self.parse_error('S ::= SEQUENCE {\n  a FOO BAR\n}'))

    def test_reads_the_whole_subset(self):
        mods, errors = self.load({
            'mon/a.asn': module('MON', '''
                -- comment
                S ::= SEQUENCE {
                    rtp-g711 INTEGER (-128..127) OPTIONAL, -- trailing comment
                    name IA5String (SIZE (1..64)),
                    data OCTET STRING (SIZE(8)),
                    oid OBJECT IDENTIFIER,
                    bits BIT STRING,
                    when GeneralizedTime,
                    list SEQUENCE OF IA5String,
                    set SET OF E,
                    ...,
                    added BOOLEAN
                }
                E ::= ENUMERATED { a(0), b-c(5), d(5), e(-1), ..., f(9) }'''),
            'mon/b.asn': module('MON', 'C ::= CHOICE { s S, n NULL, ... }'),
        })
        self.assertEqual(errors, {})
        s = mods['MON'].types['S']
        self.assertTrue(s.extensible)
        self.assertEqual([e.name for e in s.root][:2], ['rtp-g711', 'name'])
        self.assertEqual((s.root[0].type.lo, s.root[0].type.hi, s.root[0].optional), (-128, 127, True))
        self.assertEqual(s.root[1].type.size, (1, 64))
        self.assertEqual(s.root[2].type.size, (8, 8))
        self.assertEqual([e.name for e in s.additions], ['added'])
        e = mods['MON'].types['E']
        self.assertEqual(asn1gen.enum_names(e), ['a', 'b-c=5', 'd=5', 'e=-1', 'f=9'])
        self.assertEqual(mods['MON'].types['C'].root[0].type.target, s)

    def test_module_name_must_match_its_directory(self):
        with self.assertRaises(asn1gen.SchemaError):
            self.load({'mon/a.asn': module('HSP', 'S ::= SEQUENCE { a NULL }')})

    def test_a_type_defined_twice_across_files(self):
        with self.assertRaises(asn1gen.SchemaError) as cm:
            self.load({'mon/a.asn': module('MON', 'S ::= SEQUENCE { a NULL }'),
                       'mon/b.asn': module('MON', 'S ::= SEQUENCE { b NULL }')})
        self.assertIn('already defined', str(cm.exception))


class CheckTest(Tree):
    def test_unresolved_references_stop_their_module_and_its_users(self):
        mods, errors = self.load({
            'base/a.asn': module('BASE', 'S ::= SEQUENCE { a Missing }'),
            'mon/a.asn': module('MON', 'T ::= SEQUENCE { a BASE.S }'),
            'hsp/a.asn': module('HSP', 'U ::= SEQUENCE { a LEMZGW.Packet, b INTEGER }'),
            'ccp/a.asn': module('CCP', 'V ::= SEQUENCE { a INTEGER }'),
        })
        self.assertIn('BASE.Missing, which is not defined', errors['BASE'][0])
        self.assertIn('module LEMZGW, which has no schema', errors['HSP'][0])
        self.assertEqual(asn1gen.unusable(mods, errors), {'BASE', 'MON', 'HSP'})

        out = os.path.join(self.root, 'out')
        with redirect_stderr(io.StringIO()) as err:
            asn1gen.generate(mods, errors, out, ['LGCP'])
        self.assertIn('module MON uses a module that cannot be generated', err.getvalue())
        with open(os.path.join(out, 'messages', 'MON.h')) as f:
            self.assertIn('#error', f.read())
        with open(os.path.join(out, 'messages', 'LGCP.h')) as f:
            self.assertIn('#error "module LGCP has no schema files"', f.read())
        with open(os.path.join(out, 'messages', 'CCP.h')) as f:
            self.assertIn('class V : public ASN1::SEQUENCE', f.read())

    def test_headers_include_only_the_forward_headers_of_other_modules(self):
        mods, errors = self.load({
            'mon/a.asn': module('MON', 'A ::= SEQUENCE { b HSP.B OPTIONAL }'),
            'hsp/a.asn': module('HSP', 'B ::= SEQUENCE { a MON.A OPTIONAL }'),
            'ccp/a.asn': module('CCP', 'C ::= SEQUENCE { a MON.A }'),
        })
        out = os.path.join(self.root, 'out')
        asn1gen.generate(mods, errors, out)

        def includes(path):
            with open(os.path.join(out, path)) as f:
                return [l for l in f.read().splitlines() if l.startswith('#include "')]
        self.assertEqual(includes('messages/MON.h'), ['#include "asn1/asn1.h"', '#include "messages/MON_fwd.h"',
                                                      '#include "messages/HSP_fwd.h"'])
        self.assertEqual(includes('messages/HSP.h'), ['#include "asn1/asn1.h"', '#include "messages/HSP_fwd.h"',
                                                      '#include "messages/MON_fwd.h"'])
        self.assertEqual(includes('messages/CCP.h'), ['#include "asn1/asn1.h"', '#include "messages/CCP_fwd.h"',
                                                      '#include "messages/MON_fwd.h"'])
        self.assertEqual(includes('messages/CCP_fwd.h'), ['#include "asn1/value.h"'])
        # The accessors cast to the other modules' classes: their full headers.
        self.assertEqual(includes('CCP.cpp'), ['#include "messages/CCP.h"', '#include "messages/MON.h"',
                                               '#include "messages/support.h"'])

    NEW_SHAPES = {
        'base/a.asn': module('BASE', '''
            S ::= SEQUENCE { a INTEGER (0..99), b SEQUENCE OF S, c SET OF SEQUENCE OF Small, ..., d NULL, e E }
            Small ::= INTEGER (-3..3)
            C ::= CHOICE { s S, ..., n NULL, t BOOLEAN }
            E ::= ENUMERATED { x(0), ..., y(7) }
            Label ::= IA5String (SIZE (1..8))'''),
        'mon/a.asn': module('MON', 'M ::= SEQUENCE { list SEQUENCE OF BASE.C, r INTEGER (5..70000), label BASE.Label }'),
    }

    def test_new_ranges_lists_and_additions_need_no_generator_edit(self):
        mods, errors = self.load(self.NEW_SHAPES)
        self.assertEqual(asn1gen.self_check(mods, errors, {'BASE': (1, 1, 1), 'MON': (1, 0, 0)}), [])
        found = asn1gen.shapes(mods)
        self.assertEqual(found['ranges'], [(-3, 3), (0, 99), (5, 70000)])
        self.assertEqual(found['lists'], {'SEQUENCE OF': ['BASE.C', 'BASE.S', 'INTEGER (-3..3)'],
                                          'SET OF': ['SEQUENCE OF INTEGER (-3..3)']})
        self.assertEqual(found['extensions'], {'BASE.S': (3, 2), 'BASE.C': (1, 2), 'BASE.E': (1, 1)})

        out = os.path.join(self.root, 'out')
        asn1gen.generate(mods, errors, out)
        with open(os.path.join(out, 'messages', 'BASE.h')) as f:
            header = f.read()
        with open(os.path.join(out, 'BASE.cpp')) as f:
            source = f.read()
        for text in ('ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 99u>& set_a(unsigned int v);',
                     'ASN1::SEQUENCE_OF<::BASE::S>& set_b();',
                     'ASN1::SET_OF<ASN1::SEQUENCE_OF<ASN1::Constrained_INTEGER<ASN1::FixedConstraint, -3, 3u>>>& set_c();',
                     'using Small = ASN1::Constrained_INTEGER<ASN1::FixedConstraint, -3, 3u>;'):
            self.assertIn(text, header)
        with open(os.path.join(out, 'messages', 'MON.h')) as f:
            self.assertIn('const M::label::value_type& get_label() const;', f.read())
        # Root and added counts in the records: 3 fields + 2 additions, 1 + 2
        # alternatives, an enumeration with 7 beyond its maximum of 0.
        for text in ('fieldInfos, fieldIds, 3, 2, 0, nullptr, nullptr, fieldNames};',
                     'selectionInfos, 1, 3, nullptr, selectionNames};',
                     '10}, true, 0, E_enum_names__, 2};'):
            self.assertIn(text, source)

    def test_output_of_new_shapes_compiles(self):
        """Needs a compiler: ctest passes ASN1GEN_CXX and ASN1GEN_INCLUDE."""
        cxx, include = os.environ.get('ASN1GEN_CXX'), os.environ.get('ASN1GEN_INCLUDE')
        if not cxx or not include:
            self.skipTest('ASN1GEN_CXX and ASN1GEN_INCLUDE not set')
        mods, errors = self.load(self.NEW_SHAPES)
        out = os.path.join(self.root, 'out')
        asn1gen.generate(mods, errors, out)
        flags = ['-std=c++17', '-fsyntax-only', '-Wall', '-Wextra', '-Wno-missing-braces', '-Werror',
                 '-I', include, '-I', out]
        for name in ('BASE', 'MON'):
            res = subprocess.run([cxx] + flags + [os.path.join(out, name + '.cpp')], capture_output=True, text=True)
            self.assertEqual(res.returncode, 0, res.stderr[-4000:])
        # Every header stands alone.
        for name in ('BASE_fwd.h', 'MON_fwd.h', 'MON.h'):
            res = subprocess.run([cxx] + flags + ['-x', 'c++', '-'], input='#include "messages/%s"\n' % name,
                                 capture_output=True, text=True)
            self.assertEqual(res.returncode, 0, res.stderr[-4000:])

    def test_list_elements_carry_no_size(self):
        mods, errors = self.load({'base/a.asn': module('BASE', '''
            Name ::= IA5String (SIZE (1..8))
            S ::= SEQUENCE { a SEQUENCE OF Name, b Name, c SEQUENCE OF SEQUENCE OF OCTET STRING (SIZE (2)) }''')})
        problems = asn1gen.self_check(mods, errors, {'BASE': (1, 0, 0)})
        self.assertEqual(len(problems), 2, problems)
        for text in ('base/a.asn:4: BASE.S: SEQUENCE OF of a sized IA5String',
                     'base/a.asn:4: BASE.S: SEQUENCE OF of a sized OCTET STRING'):
            self.assertEqual(sum(text in p for p in problems), 1, (text, problems))

    def test_kinds_of_every_module_are_counted(self):
        body = '\n'.join('S%d ::= SEQUENCE { a NULL }' % i for i in range(12)) + \
               '\n' + '\n'.join('C%d ::= CHOICE { a NULL }' % i for i in range(7))
        mods, errors = self.load({'mon/a.asn': module('MON', body), 'xyz/a.asn': module('XYZ', 'N ::= NULL')})
        problems = asn1gen.self_check(mods, errors)
        self.assertEqual(problems, ['module MON has 12 SEQUENCE, 7 CHOICE, 0 ENUMERATED types, expected 11, 7, 1',
                                    'module XYZ is not one of the known modules'])

    def test_names_that_clash_in_cpp(self):
        mods, errors = self.load({'base/a.asn': module('BASE', '''
            S ::= SEQUENCE { a-b NULL, a_b NULL }
            T ::= ENUMERATED { x(0), y(1) }
            U ::= ENUMERATED { one(1) }''')})
        problems = asn1gen.check_names(mods)
        self.assertEqual(len(problems), 1)
        self.assertIn('a_b clashes with a-b', problems[0])

    def test_the_committed_schema_passes(self):
        src = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..')
        mods = asn1gen.load(src)
        errors = asn1gen.resolve(mods)
        self.assertEqual(sorted(mods), sorted(asn1gen.MODULE_TYPES))
        self.assertEqual(asn1gen.self_check(mods, errors), [])


class NamingTest(unittest.TestCase):
    def test_cpp_names(self):
        self.assertEqual(asn1gen.cpp_name('snmp-set'), 'snmp_set')
        self.assertEqual(asn1gen.cpp_name('delete'), 'delete_')
        self.assertEqual(asn1gen.cpp_name('not-use'), 'not_use')
        self.assertEqual(asn1gen.member_name('info'), 'info_')
        self.assertEqual(asn1gen.member_name('ping'), 'ping')

    def test_main_check_mode_reports_and_fails(self):
        with tempfile.TemporaryDirectory() as root:
            schema_tree(root, {'base/a.asn': module('BASE', 'S ::= SEQUENCE { a Nowhere }')})
            out, err = io.StringIO(), io.StringIO()
            with redirect_stdout(out), redirect_stderr(err):
                rc = asn1gen.main(['--src', root, '--check'])
            self.assertEqual(rc, 1)
            self.assertIn('BASE       1 types', out.getvalue())
            self.assertIn('BASE.Nowhere, which is not defined', err.getvalue())


if __name__ == '__main__':
    unittest.main()
