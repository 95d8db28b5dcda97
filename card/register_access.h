// Direct register path to the demodulator and the LNB power controller.
#pragma once

class RegisterAccess {};
