# Type -> strategy, or callable(type) -> strategy, registered by the library.
_global_type_lookup = {}
