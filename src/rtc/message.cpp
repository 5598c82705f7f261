#include "rtc/message.hpp"

namespace rtc {

message_ptr make_message(size_t size, Message::Type type, unsigned int stream) {
  auto message = std::make_shared<Message>(size, type);
  message->stream = stream;
  return message;
}

message_ptr make_message(binary&& data, Message::Type type, unsigned int stream) {
  auto message = std::make_shared<Message>(std::move(data), type);
  message->stream = stream;
  return message;
}

message_ptr make_message(message_variant data) {
  return std::visit(
      [](auto&& value) -> message_ptr {
        using T = std::decay_t<decltype(value)>;
        if constexpr (std::is_same_v<T, binary>) {
          return make_message(std::move(value), Message::Binary);
        } else {
          auto bytes = reinterpret_cast<const byte*>(value.data());
          return make_message(bytes, bytes + value.size(), Message::String);
        }
      },
      std::move(data));
}

} // namespace rtc
