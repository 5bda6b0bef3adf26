// Corvel VST/Remote client, the module to import: CorvelClient talks to the
// companion program over its WebSocket (browsers and Node), CorvelAudioNode
// plays a plug-in inside a Web Audio graph (browsers only). No dependencies.
// The modules behind it import none of this one, so the node's worker loads
// only the connection and the wire format.
export {
  CorvelClient, CorvelCloseEvent, CorvelCrashedEvent, CorvelIoChangedEvent, CorvelLoadedEvent, CorvelParameterEvent,
  CorvelUnexpectedEvent,
} from './corvel-connection.js';
export { CorvelError, DEFAULT_URL } from './corvel-wire.js';
export { CorvelAudioNode } from './corvel-audio-node.js';
