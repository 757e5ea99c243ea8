⍝ System variables (local and global) and system functions
⍝ MAIN: SYS
∇SYS;⎕IO;⎕PP
⎕←⎕A ⋄ ⎕←⎕D ⋄ ⎕←⎕a
⎕IO←0 ⋄ ⎕←⍳3
⎕PP←3 ⋄ ⎕←○1
⎕←⍴⎕TS
⎕←⎕DR 1 2
⎕←⍎'1+1'
⎕←⎕CT
SHOWIO
∇
∇SHOWIO
⎕←⎕IO ⋄ ⎕←⍳2
∇
