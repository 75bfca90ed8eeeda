# The MP3 output loads the encoder library at run time through the platform's library loader.
if(NOT TARGET vexa_platform_dynlib)
  add_subdirectory(${CMAKE_SOURCE_DIR}/platform/dynlib ${CMAKE_BINARY_DIR}/platform/dynlib)
endif()
# The encoder digest comes from lame_enc/, which links the library it is the digest of.
target_link_libraries(vexa_audio PUBLIC vexa_platform_dynlib vexa_encoder_digest)
