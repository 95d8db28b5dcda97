// Where this build of the library keeps its exported CDVBFrontend::SendDiSEqCMsg
// and its two private bus routines. They sit in a section of their own that
// starts on a 64 KiB boundary; loaders place libraries at 64 KiB-aligned bases
// (PE always, ELF when the segments ask for it), so the offsets below are the
// low 16 bits of the entries' addresses wherever the library is loaded. Each
// entry jumps to the implementation, keeping every register and the stack as
// the caller left them.
//
// The build chooses the layout with SIM_LAYOUT_SEND_DISEQC (offset of the
// exported entry in the section), SIM_LAYOUT_BUS_READ and SIM_LAYOUT_BUS_WRITE
// (distances of the bus routines from it).
#if !defined(SIM_LAYOUT_SEND_DISEQC) || !defined(SIM_LAYOUT_BUS_READ) || \
    !defined(SIM_LAYOUT_BUS_WRITE)
#error "the library build names its layout"
#endif
static_assert(SIM_LAYOUT_BUS_WRITE < SIM_LAYOUT_BUS_READ, "entries are placed in address order");

#define SIM_TEXT(x) #x
#define SIM_NUMBER(x) SIM_TEXT(x)

#ifdef _WIN32
#define SIM_SYMBOL(name) "_" #name
#define SIM_SECTION ".section .mvbus,\"xr\"\n"
#define SIM_SECTION_END ".text\n"  // COFF has no section stack
#define SIM_FUNCTION(name) ".globl " SIM_SYMBOL(name) "\n"
#else
#define SIM_SYMBOL(name) #name
#define SIM_SECTION ".pushsection .mvbus,\"ax\",@progbits\n.p2align 16\n"
#define SIM_SECTION_END ".popsection\n"
#define SIM_FUNCTION(name) ".globl " SIM_SYMBOL(name) "\n.type " SIM_SYMBOL(name) ",@function\n"
#endif

// clang-format off
asm(SIM_SECTION
    ".org " SIM_NUMBER(SIM_LAYOUT_SEND_DISEQC) ", 0xCC\n"
    SIM_FUNCTION(CDVBFrontend_SendDiSEqCMsg)
    SIM_SYMBOL(CDVBFrontend_SendDiSEqCMsg) ":\n"
    "  jmp " SIM_SYMBOL(SimFrontendSendDiSEqCMsg) "\n"
    ".org " SIM_NUMBER(SIM_LAYOUT_SEND_DISEQC) " + " SIM_NUMBER(SIM_LAYOUT_BUS_WRITE) ", 0xCC\n"
    SIM_SYMBOL(SimBusWriteAtLayout) ":\n"
    "  jmp " SIM_SYMBOL(SimBusWrite) "\n"
    ".org " SIM_NUMBER(SIM_LAYOUT_SEND_DISEQC) " + " SIM_NUMBER(SIM_LAYOUT_BUS_READ) ", 0xCC\n"
    SIM_SYMBOL(SimBusReadAtLayout) ":\n"
    "  jmp " SIM_SYMBOL(SimBusRead) "\n"
    SIM_SECTION_END);
// clang-format on
