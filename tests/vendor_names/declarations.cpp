// The card library's interface as its makers declare it, compiled for their
// platform only to learn the decorated names their compiler gives each entry.
// Every call below makes the compiler import one entry under that name.
enum DVB_ERROR { DVB_ERR_NONE = 0 };

class __declspec(dllimport) CDVBCommon {
 public:
  static bool OpenDevice(unsigned short, const char*, int);
  static DVB_ERROR CloseDevice();
};

class __declspec(dllimport) CDVBBoardControl {
 public:
  CDVBBoardControl();
  virtual ~CDVBBoardControl();
  DVB_ERROR ResetInit();
  DVB_ERROR EnableDataDMA(int);
  DVB_ERROR TSRecordOnOff(int);
  int TSRecordRead(unsigned char*, int);
};

class __declspec(dllimport) CDVBFrontend {
 public:
  struct _CHANNEL_TYPE {
    unsigned word[8];
  };
  struct _SIGNAL_TYPE {
    unsigned char bytes[24];
  };
  struct _LOCK_STATE {
    int value;
  };
  CDVBFrontend();
  virtual ~CDVBFrontend();
  DVB_ERROR Init();
  DVB_ERROR SetChannel(_CHANNEL_TYPE, int);
  DVB_ERROR GetState(int&, _SIGNAL_TYPE*, _LOCK_STATE*);
  DVB_ERROR SendDiSEqCMsg(unsigned char*, unsigned char, unsigned char);
};

__declspec(dllimport) DVB_ERROR InitDvbApiDll();

void UseEveryEntry(unsigned char* bytes, CDVBFrontend::_CHANNEL_TYPE channel, int& lock) {
  CDVBCommon::OpenDevice(0, nullptr, 0);
  CDVBCommon::CloseDevice();
  InitDvbApiDll();
  auto* board = new CDVBBoardControl;
  board->ResetInit();
  board->EnableDataDMA(1);
  board->TSRecordOnOff(0);
  board->TSRecordRead(bytes, 1);
  board->CDVBBoardControl::~CDVBBoardControl();
  auto* frontend = new CDVBFrontend;
  frontend->Init();
  frontend->SetChannel(channel, 0);
  frontend->GetState(lock, nullptr, nullptr);
  frontend->SendDiSEqCMsg(bytes, 1, 0xFF);
  frontend->CDVBFrontend::~CDVBFrontend();
}
