// The LEMZ packet codec against hand-written octets.
#include "radio/sig_proto.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "radio/tests/octets.h"

namespace {

using namespace SigProto;

using radiotest::Hex;
using radiotest::Octets;

std::string Dump(const sig_proto& p, int mode = kDumpTypeName) {
  char text[kDumpSize];
  const int n = sprintf_sig_proto(text, sizeof text, &p, mode);
  return std::string(text, static_cast<std::size_t>(n));
}

in_addr Addr(const char* dotted) {
  in_addr a;
  a.s_addr = ::inet_addr(dotted);
  return a;
}

sig_proto Record(std::uint32_t type, const std::function<void(sig_proto&)>& fill = nullptr) {
  sig_proto p;
  sig_proto_init(&p);
  p.type = type;
  if (fill) fill(p);
  return p;
}

// Each row both ways: the record packs to the octets, and the octets unpack
// to the record.
struct Wire {
  const char* what;
  sig_proto record;
  const char* hex;
};

TEST(SigProto, PacksAndUnpacksEveryTypeAndEveryHeaderBit) {
  const Wire table[] = {
      {"GW_FLAG", Record(GW_FLAG), "01000000"},
      {"priority", Record(GW_FLAG, [](sig_proto& p) { p.priority = 0xA; }), "01a00000"},
      {"flag_t", Record(GW_FLAG, [](sig_proto& p) { p.flag_t = 1; }), "01080000"},
      {"flag_p", Record(GW_FLAG, [](sig_proto& p) { p.flag_p = 1; }), "01040000"},
      {"flag_r", Record(GW_FLAG, [](sig_proto& p) { p.flag_r = 1; }), "01020000"},
      {"flag_s", Record(GW_FLAG, [](sig_proto& p) { p.flag_s = 1; }), "01010000"},
      {"flag_b", Record(GW_FLAG, [](sig_proto& p) { p.flag_b = 1; }), "01008000"},
      {"flag_rv", Record(GW_FLAG, [](sig_proto& p) { p.flag_rv = 1; }), "01004000"},
      {"flag_sh", Record(GW_FLAG, [](sig_proto& p) { p.flag_sh = 1; }), "01002000"},
      {"flag_pw", Record(GW_FLAG, [](sig_proto& p) { p.flag_pw = 1; }), "01001000"},
      {"status high bits", Record(GW_FLAG, [](sig_proto& p) { p.status = 0x1E0; }), "01000f00"},
      {"status low bits", Record(GW_FLAG, [](sig_proto& p) { p.status = 0x1F; }), "010000f8"},
      {"flag_c", Record(GW_FLAG, [](sig_proto& p) { p.flag_c = 3; }), "01000006"},
      {"flag_rs", Record(GW_FLAG, [](sig_proto& p) { p.flag_rs = 1; }), "01000001"},
      {"GW_ADJUST_CHAN 145.5",
       Record(GW_ADJUST_CHAN, [](sig_proto& p) { sig_proto_set_gw_adjust_chan(&p, 7, 145.5f); }),
       "02000000 00000007 43118000"},
      {"GW_FLAG_PTT", Record(GW_FLAG_PTT, [](sig_proto& p) { p.flag_p = 1; }), "03040000"},
      {"GW_FLAG_BSS", Record(GW_FLAG_BSS), "04000000"},
      {"GW_FLAG_RV", Record(GW_FLAG_RV), "05000000"},
      {"GW_FLAG_SH", Record(GW_FLAG_SH), "06000000"},
      {"GW_FLAG_PW", Record(GW_FLAG_PW), "07000000"},
      {"GW_FLAG_RS", Record(GW_FLAG_RS), "08000000"},
      {"GW_SEL_CALL 3", Record(GW_SEL_CALL, [](sig_proto& p) { sig_proto_set_gw_selcall(&p, "abc", 3); }),
       "09000000 03616263"},
      {"GW_SEL_CALL 4", Record(GW_SEL_CALL, [](sig_proto& p) { sig_proto_set_gw_selcall(&p, "abcd", 4); }),
       "09000000 04616263 64000000"},
      {"GW_SELECT_RC_CHAN", Record(GW_SELECT_RC_CHAN, [](sig_proto& p) { sig_proto_set_gw_select_rc_chan(&p, 3, 250); }),
       "0a000000 03fa0000"},
      {"GW_ADJUST_SQUELSHE", Record(GW_ADJUST_SQUELSHE, [](sig_proto& p) { sig_proto_set_gw_adjust_squelsh(&p, 2); }),
       "0b000000 02000000"},
      {"GW_ADJUST_RTE", Record(GW_ADJUST_RTE, [](sig_proto& p) { sig_proto_set_gw_adjust_rte(&p, 0x81); }),
       "0c000000 81000000"},
      {"GW_ADJUST_STANDBY", Record(GW_ADJUST_STANDBY, [](sig_proto& p) { sig_proto_set_gw_adjust_standby(&p, 1); }),
       "0d000000 01000000"},
      {"WM_FLAG", Record(WM_FLAG, [](sig_proto& p) { p.flag_s = 1; }), "81010000"},
      {"WM_TRANS 192.168.1.10",
       Record(WM_TRANS, [](sig_proto& p) { sig_proto_set_wm_transmite(&p, Addr("192.168.1.10"), 0x01020304); }),
       "82000000 0a01a8c0 01020304"},
      {"WM_RADIO_QUALITY", Record(WM_RADIO_QUALITY, [](sig_proto& p) { sig_proto_set_wm_radio_quality(&p, -2.0f); }),
       "83000000 c0000000"},
      {"WM_CHAN", Record(WM_CHAN, [](sig_proto& p) { sig_proto_set_wm_chan(&p, 0x10203, 145.5f, 4, 5); }),
       "84000000 00010203 43118000 04050000"},
      {"WM_SEL_CALL_TRANS",
       Record(WM_SEL_CALL_TRANS,
              [](sig_proto& p) { sig_proto_set_wm_selcall_transmite(&p, Addr("10.0.0.1"), 0xAABBCCDD, "xy", 2); }),
       "85000000 0100000a aabbccdd 02787900"},
      {"WM_SELECT_RC_CHAN", Record(WM_SELECT_RC_CHAN, [](sig_proto& p) { sig_proto_set_wm_select_rc_chan(&p, 1, 2); }),
       "86000000 01020000"},
      {"WM_STANDBY", Record(WM_STANDBY, [](sig_proto& p) { sig_proto_set_wm_standby(&p, 1, 200, 2); }),
       "87000000 01c80200"},
  };
  for (const Wire& w : table) {
    const std::vector<unsigned char> want = Octets(w.hex);
    unsigned char buf[512];
    const int n = sig_proto_pack(&w.record, buf, sizeof buf);
    ASSERT_GT(n, 0) << w.what;
    EXPECT_EQ(Hex(want.data(), int(want.size())), Hex(buf, n)) << w.what;
    sig_proto back;
    sig_proto_init(&back);
    EXPECT_EQ(0, sig_proto_unpack(&back, want.data(), int(want.size()))) << w.what;
    EXPECT_EQ(Dump(w.record, kDumpTypeHex), Dump(back, kDumpTypeHex)) << w.what;
    EXPECT_EQ(0, std::memcmp(&w.record, &back, sizeof back)) << w.what;
  }
}

TEST(SigProto, PackSendsOnlyTheLowBitsAndNeedsTheRoomOfTheType) {
  const sig_proto wide = Record(GW_FLAG, [](sig_proto& p) {
    p.priority = 16;
    p.status = 512;
    p.flag_c = 5;
    p.flag_p = 2;
  });
  const sig_proto unknown = Record(200);
  const sig_proto chan = Record(GW_ADJUST_CHAN, [](sig_proto& p) { sig_proto_set_gw_adjust_chan(&p, 1, 1.0f); });
  const sig_proto sel3 = Record(GW_SEL_CALL, [](sig_proto& p) { sig_proto_set_gw_selcall(&p, "abc", 3); });
  const sig_proto sel4 =
      Record(WM_SEL_CALL_TRANS, [](sig_proto& p) { sig_proto_set_wm_selcall_transmite(&p, Addr("1.2.3.4"), 9, "abcd", 4); });
  const struct {
    const char* what;
    const sig_proto* record;
    int size;
    int result;
    const char* buffer;  // what the buffer holds afterwards ("ee": untouched)
  } table[] = {
      {"low bits", &wide, 4, 4, "01000002"},
      {"unknown type, header alone", &unknown, 8, 4, "c8000000 00000000"},
      {"type 2 into 8", &chan, 8, kShort, "02000000 00000000"},
      {"type 2 into 3", &chan, 3, kShort, "eeeeee"},
      {"GW_SEL_CALL needs L+12", &sel3, 14, kShort, "09000000 00000000 00000000 0000"},
      {"GW_SEL_CALL with L+12", &sel3, 15, 8, "09000000 03616263 00000000 000000"},
      {"WM_SEL_CALL_TRANS needs L+20", &sel4, 23, kShort, "85000000 00000000 00000000 00000000 00000000 000000"},
      {"WM_SEL_CALL_TRANS with L+20", &sel4, 24, 20, "85000000 04030201 00000009 04616263 64000000 00000000"},
  };
  for (const auto& row : table) {
    std::vector<unsigned char> buf(static_cast<std::size_t>(row.size), 0xEE);
    EXPECT_EQ(row.result, sig_proto_pack(row.record, buf.data(), row.size)) << row.what;
    EXPECT_EQ(Hex(Octets(row.buffer).data(), row.size), Hex(buf.data(), row.size)) << row.what;
  }
  unsigned char buf[16];
  EXPECT_EQ(0, sig_proto_pack(nullptr, buf, sizeof buf));
  EXPECT_EQ(0, sig_proto_pack(&chan, nullptr, 16));
}

TEST(SigProto, UnpackRefusesWhatItCannotReadWhole) {
  const struct {
    const char* what;
    const char* hex;
    int result;
  } table[] = {
      {"3 octets", "010000", kShort},
      {"type 2 cut", "02000000 00000007 431180", kShort},
      {"caller ID announces 5, 3 arrived", "09000000 05616263", kShort},
      {"caller-ID length missing", "09000000", kShort},
      {"WM_SEL_CALL_TRANS cut", "85000000 0100000a aabbccdd 02", kShort},
      {"WM_CHAN cut", "84000000 00010203 43118000 0405", kShort},
      {"type 0", "00000000", kUnknownType},
      {"type 14", "0e000000", kUnknownType},
      {"type 128", "80000000", kUnknownType},
      {"type 136", "88000000 00000000", kUnknownType},
  };
  sig_proto before = Record(GW_SEL_CALL, [](sig_proto& p) {
    sig_proto_set_gw_selcall(&p, "zz", 2);
    p.flag_p = 1;
    p.source_ssrc = 42;
  });
  for (const auto& row : table) {
    const std::vector<unsigned char> in = Octets(row.hex);
    sig_proto p = before;
    EXPECT_EQ(row.result, sig_proto_unpack(&p, in.data(), int(in.size()))) << row.what;
    // Only an unknown type leaves a trace: the type it had.
    if (row.result == kUnknownType) {
      EXPECT_EQ(in[0], p.type) << row.what;
      p.type = before.type;
    }
    EXPECT_EQ(0, std::memcmp(&before, &p, sizeof p)) << row.what;
  }
  sig_proto p;
  EXPECT_EQ(kNull, sig_proto_unpack(nullptr, Octets("01000000").data(), 4));
  EXPECT_EQ(kNull, sig_proto_unpack(&p, nullptr, 4));
}

TEST(SigProto, UnpackKeepsWhatTheTypeDoesNotCarry) {
  sig_proto p = Record(GW_SEL_CALL, [](sig_proto& r) {
    sig_proto_set_gw_selcall(&r, "abcdef", 6);
    r.source_addr = 0x0100007F;
    r.source_ssrc = 99;
  });
  // A header-only type with octets after it, then a shorter caller ID.
  const std::vector<unsigned char> flag = Octets("01040000 ffffffff");
  ASSERT_EQ(0, sig_proto_unpack(&p, flag.data(), int(flag.size())));
  EXPECT_EQ(1u, p.type);
  EXPECT_EQ(1u, p.flag_p);
  EXPECT_EQ(6, p.body.gw_sel_call.callerID_length);
  const std::vector<unsigned char> sel = Octets("09000000 027879");
  ASSERT_EQ(0, sig_proto_unpack(&p, sel.data(), int(sel.size())));
  EXPECT_EQ(0u, p.flag_p);
  EXPECT_EQ(2, p.body.gw_sel_call.callerID_length);
  EXPECT_STREQ("xycdef", reinterpret_cast<const char*>(p.body.gw_sel_call.callerID));
  EXPECT_EQ(0x0100007Fu, p.source_addr);
  EXPECT_EQ(99u, p.source_ssrc);
}

TEST(SigProto, CallerIdSettersReadNoFurtherThanLenOrAZero) {
  // No terminator: reading a fourth octet is an overflow ASan reports.
  std::unique_ptr<char[]> cid(new char[3]{'a', 'b', 'c'});
  sig_proto p;
  std::memset(&p, 0x55, sizeof p);
  sig_proto_set_gw_selcall(&p, cid.get(), 3);
  EXPECT_EQ(3, p.body.gw_sel_call.callerID_length);
  EXPECT_EQ("616263" + std::string(2 * 253, '0'), Hex(p.body.gw_sel_call.callerID, 256));
  std::memset(&p, 0x55, sizeof p);
  sig_proto_set_wm_selcall_transmite(&p, Addr("1.2.3.4"), 7, cid.get(), 3);
  EXPECT_EQ(3, p.body.wm_sel_call_trans.callerID_length);
  EXPECT_EQ("616263" + std::string(2 * 253, '0'), Hex(p.body.wm_sel_call_trans.callerID, 256));
  EXPECT_EQ(7u, p.body.wm_sel_call_trans.ssrc);
  // A zero ends the copy; the length stays what was given.
  sig_proto_set_gw_selcall(&p, "ab\0cd", 5);
  EXPECT_EQ(5, p.body.gw_sel_call.callerID_length);
  EXPECT_EQ("6162" + std::string(2 * 254, '0'), Hex(p.body.gw_sel_call.callerID, 256));
  sig_proto_set_gw_selcall(&p, nullptr, 9);
  EXPECT_EQ(0, p.body.gw_sel_call.callerID_length);
  EXPECT_EQ(std::string(512, '0'), Hex(p.body.gw_sel_call.callerID, 256));
}

TEST(SigProto, BaseSetterSkipsNegativeArgumentsAndTakesPowerBeforeReserve) {
  sig_proto p = Record(GW_FLAG);
  sig_proto_set_base(&p, 3, 1, 1, 0, 1, 0, 1, 0, /*pw*/ 1, /*rs*/ 0, 2, 300);
  EXPECT_EQ(1u, p.flag_pw);
  EXPECT_EQ(0u, p.flag_rs);
  sig_proto_set_base(&p, -1, -1, 0, -1, -1, -1, -1, -1, -1, 1, -1, -1);
  const std::uint32_t want[] = {3, 1, 0, 0, 1, 0, 1, 0, 1, 1, 2, 300};
  const std::uint32_t got[] = {p.priority, p.flag_t,  p.flag_p,  p.flag_r,  p.flag_s, p.flag_b,
                               p.flag_rv,  p.flag_sh, p.flag_pw, p.flag_rs, p.flag_c, p.status};
  for (int i = 0; i < 12; ++i) EXPECT_EQ(want[i], got[i]) << i;
  sig_proto_set_ptt(&p, -1);
  EXPECT_EQ(0u, p.flag_p);
  sig_proto_set_ptt(&p, 1);
  EXPECT_EQ(1u, p.flag_p);
  EXPECT_EQ(0, sig_proto_set_base(nullptr, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1));
}

TEST(SigProto, DumpLinesAndTheirBuffer) {
  const sig_proto trans = Record(WM_TRANS, [](sig_proto& p) {
    sig_proto_set_wm_transmite(&p, Addr("192.168.1.10"), 0x01020304);
    p.flag_p = 1;
    p.priority = 15;
    p.status = 300;
  });
  const std::string flags =
      "flag_t   : 0,\nflag_p   : 1,\nflag_r   : 0,\nflag_s   : 0,\nflag_b   : 0,\n"
      "flag_rv  : 0,\nflag_sh  : 0,\nflag_rs  : 0,\nflag_pw  : 0,\nflag_c   : 0,\n";
  const std::string whole = "type      : WM_TRANS,\n" + flags +
                            "priority : 15,\nstatus   : 300,\n"
                            "wm_trans.session_addr : 192.168.1.10,\n"
                            "wm_trans.ssrc         : 0x01020304,\n";
  EXPECT_EQ(whole, Dump(trans, kDumpTypeName));
  EXPECT_EQ("type      : 0x00000082,\n" + whole.substr(whole.find('\n') + 1), Dump(trans, kDumpTypeHex));
  // Mode 4: the ten flags alone, whatever the type.
  EXPECT_EQ(flags, Dump(trans, kDumpFlagsOnly));
  // A type without a name prints in hexadecimal; one without a printer not at all.
  EXPECT_EQ("type      : 0x00000000,\n", Dump(Record(0), kDumpTypeName).substr(0, 24));
  EXPECT_EQ("", Dump(Record(200), kDumpTypeName));

  const sig_proto sel = Record(GW_SEL_CALL, [](sig_proto& p) {
    sig_proto_set_gw_selcall(&p, "\x01\xfe", 2);
    sig_proto_set_base(&p, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
  });
  EXPECT_NE(std::string::npos, Dump(sel).find("gw_sel_call.callerID_length: 2,\ngw_sel_call.callerID : \n"
                                              "[0] : 0x01,\n[1] : 0xFE,\n"));
  EXPECT_NE(std::string::npos, Dump(Record(GW_ADJUST_CHAN, [](sig_proto& p) {
                                      sig_proto_set_gw_adjust_chan(&p, 7, 145.5f);
                                    })).find("gw_adjust_chan.id   : 7,\ngw_adjust_chan.freq : 145.5000,\n"));

  // Cut to the buffer, never past it.
  std::unique_ptr<char[]> small(new char[40]);
  EXPECT_EQ(39, sprintf_sig_proto(small.get(), 40, &trans, kDumpTypeName));
  EXPECT_EQ(whole.substr(0, 39), std::string(small.get()));
  EXPECT_EQ(0, sprintf_sig_proto(small.get(), 0, &trans, kDumpTypeName));
  EXPECT_EQ(0, sprintf_sig_proto(small.get(), 1, &trans, kDumpTypeName));
  EXPECT_EQ('\0', small[0]);
  EXPECT_EQ(0, sprintf_sig_proto(nullptr, 40, &trans, kDumpTypeName));
}

TEST(SigProto, Comparisons) {
  const sig_proto a = Record(GW_ADJUST_CHAN, [](sig_proto& p) { sig_proto_set_gw_adjust_chan(&p, 1, 2.0f); });
  const sig_proto body = Record(GW_ADJUST_CHAN, [](sig_proto& p) { sig_proto_set_gw_adjust_chan(&p, 9, 3.0f); });
  const sig_proto type = Record(WM_FLAG);
  sig_proto ssrc = a, addr = a, flag = a;
  ssrc.source_ssrc = 5;
  addr.source_addr = 3;
  flag.flag_s = 1;

  EXPECT_EQ(0, cmp_sig_proto_header(&a, &body));
  EXPECT_EQ(int(WM_FLAG - GW_ADJUST_CHAN), cmp_sig_proto_header(&a, &type));
  EXPECT_EQ(5, cmp_sig_proto_header(&a, &ssrc));
  EXPECT_EQ(3, cmp_sig_proto_header(&a, &addr));
  EXPECT_EQ(-1, cmp_sig_proto_header(nullptr, &a));

  EXPECT_EQ(0, cmp_sig_proto(&a, &a));
  EXPECT_NE(0, cmp_sig_proto(&a, &body));
  EXPECT_NE(0, cmp_sig_proto(&a, &type));
  EXPECT_EQ(0, cmp_sig_proto(&a, &ssrc));  // the source is not in the dump
  EXPECT_EQ(-1, cmp_sig_proto(&a, nullptr));

  EXPECT_EQ(0, cmp_sig_proto_flags(&a, &body));
  EXPECT_EQ(0, cmp_sig_proto_flags(&a, &type));
  EXPECT_NE(0, cmp_sig_proto_flags(&a, &flag));
  EXPECT_EQ(-1, cmp_sig_proto_flags(nullptr, nullptr));
}

TEST(SigProto, NamesPttCommandsAndTheQueue) {
  const s_sig_proto_table_name* t = sig_proto_packet_const_name;
  const char* const names[] = {
      "GW_FLAG",   "GW_ADJUST_CHAN", "GW_FLAG_PTT",      "GW_FLAG_BSS", "GW_FLAG_RV",
      "GW_FLAG_SH", "GW_FLAG_PW",    "GW_FLAG_RS",       "GW_SEL_CALL", "GW_SELECT_RC_CHAN",
      "GW_ADJUST_SQUELSHE", "GW_ADJUST_RTE", "GW_ADJUST_STANDBY", "WM_FLAG", "WM_TRANS",
      "WM_RADIO_QUALITY", "WM_CHAN", "WM_SEL_CALL_TRANS", "WM_SELECT_RC_CHAN", "WM_STANDBY"};
  const int ids[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 129, 130, 131, 132, 133, 134, 135};
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(ids[i], t[i].id);
    EXPECT_EQ(names[i], t[i].name);
    EXPECT_STREQ(names[i], sig_proto_find_name_by_id(t, ids[i]));
    EXPECT_EQ(ids[i], sig_proto_find_id_by_name(t, names[i]));
  }
  EXPECT_EQ(-1, t[20].id);
  EXPECT_EQ(nullptr, sig_proto_find_name_by_id(t, 14));
  EXPECT_EQ(nullptr, sig_proto_find_name_by_id(t, -1));
  EXPECT_EQ(nullptr, sig_proto_find_name_by_id(nullptr, 1));
  EXPECT_EQ(-1, sig_proto_find_id_by_name(t, "gw_flag"));
  EXPECT_EQ(-1, sig_proto_find_id_by_name(t, ""));
  EXPECT_EQ(-1, sig_proto_find_id_by_name(t, nullptr));
  EXPECT_EQ(-1, sig_proto_find_id_by_name(nullptr, "GW_FLAG"));

  for (std::uint32_t type = 0; type < 300; ++type) {
    const sig_proto p = Record(type);
    const bool ptt = type == 1 || type == 3 || type == 9 || type == 129 || type == 130 || type == 133;
    EXPECT_EQ(ptt ? 1 : 0, sig_proto_is_ptt_command(&p)) << type;
  }
  EXPECT_EQ(0, sig_proto_is_ptt_command(nullptr));

  sig_proto_queue q;
  std::memset(&q, 0x77, sizeof q);
  ASSERT_EQ(0, init_sig_proto_queue(q));
  const std::uint32_t types[] = {1, 3, 4, 5, 6, 7, 8, 2, 9, 10, 13, 129, 130, 132, 131, 133, 135};
  for (int i = 0; i < kQueueSize; ++i) {
    EXPECT_EQ(i < 17 ? types[i] : 0xFFFFFFFFu, q[i].type) << i;
    sig_proto clear = Record(q[i].type);
    EXPECT_EQ(0, std::memcmp(&clear, &q[i], sizeof clear)) << i;
  }
  EXPECT_EQ(kNull, init_sig_proto_queue(nullptr));
}

}  // namespace
