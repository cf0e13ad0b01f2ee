#!/usr/bin/env bash
# The shared library exports exactly the 20 PinPad_ functions and the message-pump hook.
set -euo pipefail
expected=$(printf '%s\n' Lumenord_SetMessagePump PinPad_BidirectionalAuthorization \
    PinPad_DisablePort PinPad_DispInfoLcd PinPad_DownloadEncryptKey PinPad_DownloadKey \
    PinPad_EnablePin PinPad_EnablePort PinPad_EncryptData PinPad_GetChallenge \
    PinPad_GetCustInfo PinPad_GetPinValue PinPad_IC_Access PinPad_IC_Control \
    PinPad_InitAuthorization PinPad_MakeMac PinPad_ReadOneByte PinPad_SetControlCode \
    PinPad_SetCustInfo PinPad_SetKeyboardValue PinPad_TriUntriDes | sort)
actual=$(nm -D --defined-only "$1" | awk '{print $3}' | sed 's/@.*//' | sort)
if [ "$expected" != "$actual" ]; then
    diff <(echo "$expected") <(echo "$actual") || true
    echo "exported names differ"
    exit 1
fi
echo "21 exported names as expected"
