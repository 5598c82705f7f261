#pragma once
#include "rtc/common.hpp"

namespace rtc {

struct Message : binary {
  enum Type { Binary, String, Control, Reset };

  Message(const Message&) = default;
  Message(size_t size, Type type = Binary) : binary(size), type(type) {}
  Message(binary&& data, Type type = Binary) : binary(std::move(data)), type(type) {}
  template <typename Iterator>
  Message(Iterator begin, Iterator end, Type type = Binary) : binary(begin, end), type(type) {}

  Type type;
  unsigned int stream = 0;
  unsigned int dscp = 0;
};

using message_ptr = shared_ptr<Message>;
using message_callback = std::function<void(message_ptr message)>;
using message_vector = std::vector<message_ptr>;

inline size_t message_size_func(const message_ptr& m) {
  return m->type == Message::Binary || m->type == Message::String ? m->size() : 0;
}

message_ptr make_message(size_t size, Message::Type type = Message::Binary, unsigned int stream = 0);
message_ptr make_message(binary&& data, Message::Type type = Message::Binary, unsigned int stream = 0);
message_ptr make_message(message_variant data);

template <typename Iterator>
message_ptr make_message(Iterator begin, Iterator end, Message::Type type = Message::Binary, unsigned int stream = 0) {
  auto message = std::make_shared<Message>(begin, end, type);
  message->stream = stream;
  return message;
}

} // namespace rtc
