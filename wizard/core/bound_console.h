// The wizard's by-name library bindings as the repair engine's console.
#pragma once

#include "binding.h"
#include "tq318/repair/console.h"

namespace pelorim {

class BoundConsole final : public tq318::repair::Console {
public:
    BoundConsole(UartLibrary& uart, TovraneLibrary& tovrane) : uart_(uart), tovrane_(tovrane) {}

    uint16_t Send_Cmd(uint8_t port, const char* text, int16_t flag) override;
    uint16_t Receive_Cmd(uint8_t port, char* buffer, uint16_t timeout_ms, int16_t flag, uint16_t* scratch) override;
    uint16_t TOV_GetPrompt(uint8_t port, uint16_t timeout_ms, uint8_t prompt) override;
    uint16_t TOV_Get_FreeSize(uint8_t port, char disk, char* free_text, char* reply) override;
    uint16_t TOV_Load_File(uint8_t port, const char* path, char disk, const char* target_name, int32_t mode,
                           char* reply) override;
    uint16_t TOV_Update_Tovrane(uint8_t port, const char* image_path, char* reply) override;
    int32_t TOV_Get_Tovrane_Version(uint8_t port, char* model, char* build_date, char* flash, int32_t* flag,
                                    char* reply) override;
    uint16_t listDirectory(uint8_t port, char* reply, std::size_t capacity) override;

private:
    UartLibrary& uart_;
    TovraneLibrary& tovrane_;
};

}  // namespace pelorim
