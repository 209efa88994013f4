#pragma once
// Connections between slots: the source's output feeds the receiver's input.
// They keep the logical picture (each receiver knows its one source, each
// source the slots it feeds) and the hardware, normally the cross-connect, in
// step. Which side does the hardware work is the slots' connection priority.
class Slot;

// Makes the receiver take the source's output, moving it off another source.
bool Connect(Slot& source, Slot& receiver);
// Takes the receiver off its source; the slots are apart afterwards even
// when the hardware refused (false then).
bool Disconnect(Slot& receiver);

// Hardware only, through the slots' hooks.
bool llConnect(Slot& source, Slot& receiver);
bool llDisconnect(Slot& receiver);

// The default hardware hooks: the cross-connect.
bool MuxConnect(Slot& source, Slot& receiver);
bool MuxDisconnect(Slot& receiver);
