"""Self-checks and parser of the message class generator."""

import io
import os
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

    def test_modules_that_refer_to_each_other_include_only_forward_headers(self):
        mods, errors = self.load({
            'mon/a.asn': module('MON', 'A ::= SEQUENCE { b HSP.B OPTIONAL }'),
            'hsp/a.asn': module('HSP', 'B ::= SEQUENCE { a MON.A OPTIONAL }'),
            'ccp/a.asn': module('CCP', 'C ::= SEQUENCE { a MON.A }'),
        })
        out = os.path.join(self.root, 'out')
        asn1gen.generate(mods, errors, out)

        def includes(name):
            with open(os.path.join(out, 'messages', name + '.h')) as f:
                return [l for l in f.read().splitlines() if l.startswith('#include "messages/')]
        self.assertEqual(includes('MON'), ['#include "messages/MON_fwd.h"', '#include "messages/HSP_fwd.h"'])
        self.assertEqual(includes('HSP'), ['#include "messages/HSP_fwd.h"', '#include "messages/MON_fwd.h"'])
        self.assertEqual(includes('CCP'), ['#include "messages/CCP_fwd.h"', '#include "messages/MON.h"'])

    def test_counts_ranges_lists_and_additions(self):
        mods, errors = self.load({
            'base/a.asn': module('BASE', '''
                S ::= SEQUENCE { a INTEGER (0..99), b SEQUENCE OF S, ..., c NULL }
                E ::= ENUMERATED { x(0) }'''),
        })
        problems = asn1gen.self_check(mods, errors)
        self.assertEqual(len(problems), 4, problems)
        for text in ('module BASE has 2 types, expected 3', 'uses the range 0..99',
                     'SEQUENCE OF BASE.S is not one of the known list types',
                     'BASE.S has 2 root and 1 added members'):
            self.assertEqual(sum(text in p for p in problems), 1, text)

    def test_kinds_are_counted_where_the_split_is_known(self):
        body = '\n'.join('S%d ::= SEQUENCE { a NULL }' % i for i in range(12)) + \
               '\n' + '\n'.join('C%d ::= CHOICE { a NULL }' % i for i in range(7))
        mods, errors = self.load({'mon/a.asn': module('MON', body)})
        problems = asn1gen.self_check(mods, errors)
        self.assertEqual(problems, ['module MON has 12 SEQUENCE, 7 CHOICE, 0 ENUMERATED types, expected 11, 7, 1'])

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
        for name in ('MON', 'HSP', 'BASE'):
            self.assertIn(name, mods)
            total, _ = asn1gen.counts(mods[name])
            self.assertEqual(total, asn1gen.EXPECTED_COUNTS[name])
        mine = [p for p in asn1gen.self_check(mods, errors) if p.startswith(('module MON', 'module HSP', 'module BASE'))]
        self.assertEqual(mine, [])


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
